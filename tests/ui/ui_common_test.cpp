// The toolkit-neutral parts of the windows: the download file prompt's rules and the timer
// identifier.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "engine/download_host.h"
#include "engine/download_path.h"
#include "ui/download_file_prompt.h"
#include "ui/timer_id.h"

namespace {

// A prompt whose primitives write down what the rules asked of them.
class RecordingPrompt final : public DownloadFilePrompt {
  public:
    using DownloadFilePrompt::confirm;
    using DownloadFilePrompt::take_chosen_file;

    std::string field;
    std::vector<std::string> calls;

  protected:
    std::string path_field_text() override { return field; }
    void set_path_field_text(const char* text) override {
        field = text;
        calls.push_back("field:" + field);
    }
    void focus_path_field() override { calls.push_back("focus"); }
    void beep() override { calls.push_back("beep"); }
    void end_prompt(int result) override { calls.push_back("end:" + std::to_string(result)); }
};

using Calls = std::vector<std::string>;

TEST(DownloadFilePrompt, EmptyFieldBeepsRefocusesAndStaysOpenWithAnEmptyPath) {
    set_current_download_path("old.dl");
    RecordingPrompt prompt;
    prompt.confirm();
    EXPECT_EQ(prompt.calls, (Calls{"beep", "focus"}));
    EXPECT_STREQ(current_download_path, "");
}

TEST(DownloadFilePrompt, AnyOtherTextIsTakenAsTypedAndEndsWithOk) {
    RecordingPrompt prompt;
    prompt.field = " missing file.dl ";
    prompt.confirm();
    EXPECT_EQ(prompt.calls, (Calls{"end:1"}));
    EXPECT_STREQ(current_download_path, " missing file.dl ");
}

TEST(DownloadFilePrompt, ChosenFileIsThePathAtOnceAndShowsInTheField) {
    RecordingPrompt prompt;
    prompt.take_chosen_file("/images/modem.dl");
    EXPECT_STREQ(current_download_path, "/images/modem.dl");
    EXPECT_EQ(prompt.calls, (Calls{"field:/images/modem.dl"}));
}

TEST(DownloadFilePrompt, FilterOffersDownloadFilesThenAllFiles) {
    EXPECT_EQ(download_file_filter('|'), "Download Files (*.dl)|*.dl|All Files (*.*)|*.*");
    constexpr char with_nuls[] = "Download Files (*.dl)\0*.dl\0All Files (*.*)\0*.*";
    EXPECT_EQ(download_file_filter('\0'), std::string(with_nuls, sizeof with_nuls - 1));
}

TEST(DownloadFilePrompt, OnlyOkIsAnAnswerAPromptThatCouldNotShowIsCancel) {
    EXPECT_EQ(prompt_result(1), DIALOG_RESULT_OK);
    EXPECT_EQ(prompt_result(2), DIALOG_RESULT_CANCEL);
    EXPECT_EQ(prompt_result(-1), DIALOG_RESULT_CANCEL);
}

TEST(TimerId, FirstValueOfTheGeneratorStaysWithin0To32767) {
    std::set<unsigned> ids;
    for (unsigned seed = 0; seed < 200; ++seed) {
        const unsigned id = first_timer_id(seed);
        EXPECT_LE(id, 32767u) << seed;
        ids.insert(id);
    }
    EXPECT_GT(ids.size(), 100u);  // still drawn from the seed, not a constant
}

}  // namespace
