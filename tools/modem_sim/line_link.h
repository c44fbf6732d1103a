#pragma once

#include <string>

// A symbolic link to the line's device under a fixed name, removed again when destroyed.
class LineLink {
  public:
    LineLink() = default;
    ~LineLink();
    LineLink(const LineLink&) = delete;
    LineLink& operator=(const LineLink&) = delete;

    // Replaces an existing symbolic link at `link_path`, never another kind of file.
    bool create(const std::string& link_path, const std::string& target, std::string& error);
    void remove();

  private:
    std::string path_;
};
