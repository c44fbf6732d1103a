#pragma once

#include <string>
#include <utility>
#include <vector>

// A command line as a program's main receives it, built from words: the program's name,
// then the arguments. The words live as long as this object.
class CommandLine {
  public:
    CommandLine(std::string program, std::vector<std::string> arguments)
        : words_(std::move(arguments)) {
        words_.insert(words_.begin(), std::move(program));
        for (std::string& word : words_) {
            pointers_.push_back(word.data());
        }
    }
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    int argc() const { return static_cast<int>(pointers_.size()); }
    char** argv() { return pointers_.data(); }

  private:
    std::vector<std::string> words_;
    std::vector<char*> pointers_;
};
