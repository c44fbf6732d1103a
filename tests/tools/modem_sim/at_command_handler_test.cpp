#include "tools/modem_sim/at_command_handler.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

std::vector<std::string> commands_from(const std::string& bytes) {
    AtLineAssembler lines;
    std::vector<std::string> commands;
    for (char c : bytes) {
        if (auto command = lines.push(static_cast<std::uint8_t>(c))) {
            commands.push_back(*command);
        }
    }
    return commands;
}

TEST(AtLineAssembler, EndsCommandsAtCarriageReturn) {
    EXPECT_EQ(commands_from("AT\rATI3\r"), (std::vector<std::string>{"AT", "ATI3"}));
    EXPECT_TRUE(commands_from("ATI3").empty());
}

TEST(AtLineAssembler, DropsWhatPrecedesTheAttentionCharacters) {
    std::string packet_then_command(
        "\x00\x01\x00\x00\x02\xa6"
        "AT*Y120\r",
        14);
    EXPECT_EQ(commands_from(packet_then_command), (std::vector<std::string>{"AT*Y120"}));
    EXPECT_EQ(commands_from("\n xyz at\r"), (std::vector<std::string>{"at"}));
    EXPECT_TRUE(commands_from("hello\r").empty());
}

TEST(AtLineAssembler, SurvivesOverlongNoise) {
    EXPECT_EQ(commands_from(std::string(5000, 'x') + "\rATZ\r"), (std::vector<std::string>{"ATZ"}));
}

TEST(AnswerAtCommand, EchoesAndAnswersOk) {
    for (const char* command : {"AT", "AT*Y120", "at"}) {
        AtResponse response = answer_at_command(command, "M");
        EXPECT_EQ(response.text, std::string(command) + "\r\r\nOK\r\n");
        EXPECT_EQ(response.action, AtAction::none);
    }
}

TEST(AnswerAtCommand, Ati3GivesTheModelBeforeOk) {
    AtResponse response = answer_at_command("ATI3", "ACME 33.6 FAX");
    EXPECT_EQ(response.text, "ATI3\r\r\nACME 33.6 FAX\r\n\r\nOK\r\n");
}

TEST(AnswerAtCommand, DownloadModeAndReset) {
    EXPECT_EQ(answer_at_command("AT*D", "M").action, AtAction::enter_download_mode);
    EXPECT_EQ(answer_at_command("AT*D", "M").text, "AT*D\r\r\nOK\r\n");
    EXPECT_EQ(answer_at_command("ATZ", "M").action, AtAction::reset);
}

TEST(AnswerAtCommand, UnknownCommandsGiveError) {
    for (const char* command : {"ATX", "ATI4", "AT*Y12", "AT*DX"}) {
        AtResponse response = answer_at_command(command, "M");
        EXPECT_EQ(response.text, std::string(command) + "\r\r\nERROR\r\n");
        EXPECT_EQ(response.action, AtAction::none);
    }
}

TEST(AddLineNoise, KeepsTheTextForAReceiverThatSkipsNul) {
    std::string clean = "ATI3\r\r\nKORVAN\r\n\r\nOK\r\n";
    std::string noisy = add_line_noise(clean);
    EXPECT_EQ(noisy.find("OK"), std::string::npos) << "NUL bytes split every word";
    std::string without_nul;
    std::copy_if(noisy.begin(), noisy.end(), std::back_inserter(without_nul),
                 [](char c) { return c != '\0'; });
    EXPECT_NE(without_nul.find(clean), std::string::npos);
    EXPECT_NE(without_nul, clean) << "noise outside the text";
}

}  // namespace
