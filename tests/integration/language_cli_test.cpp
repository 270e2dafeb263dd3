// quillmar-cli in German and in English against a linesim module waiting for its PLC: the
// node screen's field labels (a table of the core) and its status message follow the language
// chosen by --lang or by the locale, while --json stays the same in both.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "fixtures/lab.h"
#include "fixtures/linesim_fixture.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// The test programs run with LANG=de_DE.UTF-8 (tests/environment); `env` changes it for one run.
test::RunResult CliWithEnvironment(const test::Lab& lab,
                                   const std::vector<std::string>& environment,
                                   const std::vector<std::string>& args) {
  std::vector<std::string> argv{"env"};
  argv.insert(argv.end(), environment.begin(), environment.end());
  argv.push_back(test::BuiltProgram("apps/quillmar-cli"));
  argv.insert(argv.end(), args.begin(), args.end());
  return lab.Exec("pc", argv, 60000);
}

TEST(LanguageCli, TableTextsAndMessagesFollowTheLanguage) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  // Node 1 is in PLC mode (register 12 bit 0, 254 = 0): the status says it waits for the PLC.
  test::Linesim line(lab, test::SourceFile("sim/lines/plc.json"));
  const std::vector<std::string> param{"param", "1", "--net", "192.168.202.0"};
  const std::string germanStatus = "Das Modul wartet auf Verbindung und Konfiguration von der SPS.";
  const std::string englishStatus =
      "The module is waiting for connection and configuration from the PLC.";

  struct Case {
    const char* what;
    std::vector<std::string> environment;
    std::vector<std::string> options;
    bool english;
  };
  const Case cases[] = {
      {"German locale", {}, {}, false},
      {"--lang en beats the German locale", {}, {"--lang", "en"}, true},
      {"English locale", {"LANG=en_US.UTF-8"}, {}, true},
      {"--lang de beats the English locale", {"LANG=en_US.UTF-8"}, {"--lang", "de"}, false},
      {"C locale", {"LANG=C"}, {}, true},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = c.options;
    args.insert(args.end(), param.begin(), param.end());
    const test::RunResult run = CliWithEnvironment(lab, c.environment, args);
    ASSERT_EQ(run.exitCode, 0) << c.what << "\n" << run.err;
    if (c.english) {
      EXPECT_THAT(run.out, HasSubstr("Speed:")) << c.what << "\n" << run.out;
      EXPECT_THAT(run.out, HasSubstr("Serial number:")) << c.what;
      EXPECT_THAT(run.out, HasSubstr(englishStatus)) << c.what;
      EXPECT_THAT(run.out, Not(HasSubstr("Geschwindigkeit:"))) << c.what;
      EXPECT_THAT(run.out, Not(HasSubstr(germanStatus))) << c.what;
    } else {
      EXPECT_THAT(run.out, HasSubstr("Geschwindigkeit:")) << c.what << "\n" << run.out;
      EXPECT_THAT(run.out, HasSubstr("Seriennummer:")) << c.what;
      EXPECT_THAT(run.out, HasSubstr(germanStatus)) << c.what;
      EXPECT_THAT(run.out, Not(HasSubstr("Speed:"))) << c.what;
      EXPECT_THAT(run.out, Not(HasSubstr(englishStatus))) << c.what;
    }
  }

  // --json is for programs: the same keys and values in both languages.
  std::vector<std::string> german{"--json"}, english{"--json", "--lang", "en"};
  german.insert(german.end(), param.begin(), param.end());
  english.insert(english.end(), param.begin(), param.end());
  const test::RunResult germanJson = CliWithEnvironment(lab, {}, german);
  const test::RunResult englishJson = CliWithEnvironment(lab, {"LANG=en_US.UTF-8"}, english);
  ASSERT_EQ(germanJson.exitCode, 0) << germanJson.err;
  ASSERT_EQ(englishJson.exitCode, 0) << englishJson.err;
  nlohmann::json germanOut = nlohmann::json::parse(germanJson.out);
  nlohmann::json englishOut = nlohmann::json::parse(englishJson.out);
  EXPECT_THAT(germanOut.at("status").get<std::string>(), HasSubstr(germanStatus));
  ASSERT_FALSE(germanOut.at("fields").empty());
  // The measured values may move between two reads; everything else is the same.
  for (nlohmann::json* out : {&germanOut, &englishOut}) {
    for (nlohmann::json& field : out->at("fields")) field.erase("value");
  }
  EXPECT_EQ(englishOut, germanOut);
}

TEST(LanguageCli, UnknownLanguageIsRefused) {
  QM_SKIP_WITHOUT_LAB();
  test::Lab lab;
  const test::RunResult run = CliWithEnvironment(lab, {}, {"--lang", "fr", "version"});
  EXPECT_EQ(run.exitCode, 2) << run.out << run.err;
  EXPECT_THAT(run.err, HasSubstr("--lang"));
}

}  // namespace
