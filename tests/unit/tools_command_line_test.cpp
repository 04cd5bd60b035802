// The command line every program of the project reads.
#include <gtest/gtest.h>

#include <limits>

#include "halvorn_version.h"
#include "tools/command_line/command_line.h"
#include "tools/command_line/program_answer.h"

namespace halvorn::cli {
namespace {

struct Line {
  bool flag = false;
  std::string text;
  int number = 0;
  CommandLine line{1, 2, "recording"};

  Line() {
    line.Flag("--flag", flag);
    line.Value("-o", text);
    line.Value("--number", [this](const std::string& value) -> std::optional<std::string> {
      if (value.find_first_not_of("0123456789") != std::string::npos) return "--number wants digits, not " + value;
      number = std::stoi(value);
      return std::nullopt;
    });
  }
  Parsed Parse(std::vector<const char*> arguments) {
    arguments.insert(arguments.begin(), "program");
    return line.Parse(static_cast<int>(arguments.size()), arguments.data());
  }
};

TEST(CommandLineTest, OptionsTakeTheirValuesAfterThemOrAfterAnEqualsSign) {
  Line line;
  const Parsed parsed = line.Parse({"a.wav", "--number", "42", "-o", "out.png", "--flag"});
  EXPECT_EQ(parsed.request, Request::kRun);
  EXPECT_EQ(parsed.operands, std::vector<std::string>{"a.wav"});
  EXPECT_TRUE(line.flag);
  EXPECT_EQ(line.text, "out.png");
  EXPECT_EQ(line.number, 42);

  Line equals;
  EXPECT_EQ(equals.Parse({"--number=7", "-o=x=y.png", "b.wav"}).request, Request::kRun);
  EXPECT_EQ(equals.number, 7);
  EXPECT_EQ(equals.text, "x=y.png");
  // A value may itself begin with a dash.
  Line dash;
  EXPECT_EQ(dash.Parse({"-o", "-picture.png", "c.wav"}).request, Request::kRun);
  EXPECT_EQ(dash.text, "-picture.png");
}

TEST(CommandLineTest, TwoDashesEndTheOptionsAndOneDashIsAnOperand) {
  Line line;
  const Parsed parsed = line.Parse({"--", "--flag", "-"});
  EXPECT_EQ(parsed.request, Request::kRun);
  EXPECT_EQ(parsed.operands, (std::vector<std::string>{"--flag", "-"}));
  EXPECT_FALSE(line.flag);
  EXPECT_EQ(Line().Parse({"--", "--help"}).request, Request::kRun);
}

TEST(CommandLineTest, WrongArgumentsAreNamed) {
  const std::vector<std::pair<std::vector<const char*>, std::string>> wrong = {
      {{"a.wav", "--colour"}, "unknown option --colour"},
      {{"a.wav", "--colour=red"}, "unknown option --colour"},
      {{"a.wav", "-o"}, "-o wants a value"},
      {{"a.wav", "-o="}, "-o wants a value"},
      {{"a.wav", "-o", ""}, "-o wants a value"},
      {{"a.wav", "--flag=yes"}, "--flag takes no value"},
      {{"a.wav", "--number", "4k"}, "--number wants digits, not 4k"},
      {{"a.wav", "b.wav", "c.wav"}, "unexpected argument c.wav"},
      {{"--flag"}, "which recording?"},
  };
  for (const auto& [arguments, error] : wrong) {
    const Parsed parsed = Line().Parse(arguments);
    EXPECT_EQ(parsed.request, Request::kWrong) << error;
    EXPECT_EQ(parsed.error, error);
    EXPECT_TRUE(parsed.operands.empty());
  }
}

TEST(CommandLineTest, HelpAndVersionWinWhereverTheyStand) {
  EXPECT_EQ(Line().Parse({"--help"}).request, Request::kHelp);
  EXPECT_EQ(Line().Parse({"--colour", "-h"}).request, Request::kHelp);
  EXPECT_EQ(Line().Parse({"a.wav", "--version", "b.wav", "c.wav"}).request, Request::kVersion);
  EXPECT_EQ(Line().Parse({"--version", "--help"}).request, Request::kVersion);
}

TEST(CommandLineTest, TheVersionLineNamesTheProgramThePackageAndTheRelease) {
  EXPECT_EQ(VersionLine("halvorn-spectrum"), "halvorn-spectrum (ExtIO_halvorn) " HALVORN_VERSION);
  const Program program{"tool", "usage: tool FILE\n"};
  EXPECT_EQ(Answer(program, Parsed{Request::kRun, {"a"}, {}}), std::nullopt);
}

}  // namespace
}  // namespace halvorn::cli
