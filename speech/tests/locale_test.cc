// SPDX-License-Identifier: Apache-2.0
// Locale forms and resolveLocale against an engine double.

#include <cstdlib>

#include <gtest/gtest.h>

#include "engine/locale.h"
#include "resolve_locale.h"
#include "tests/fake_engine.h"

namespace tuvel::speech {
namespace {

TEST(LocaleForms, CanonicalTagAndLanguage) {
  struct Case {
    const char* identifier;
    const char* bcp47;
    std::optional<std::string> language;
  };
  const Case cases[] = {
      {"en-US", "en-US", "en"},
      {"en_US", "en-US", "en"},
      {"EN_us", "en-US", "en"},
      {"de-AT", "de-AT", "de"},
      {"zh-Hant-TW", "zh-Hant-TW", "zh"},
      {"sr_Latn_RS", "sr-Latn-RS", "sr"},
      {"fr", "fr", "fr"},
      {"", "und", std::nullopt},
      {" en-US ", "und", std::nullopt},
      {"123", "und", std::nullopt},
  };
  for (const Case& c : cases) {
    Locale locale(c.identifier);
    EXPECT_EQ(locale.bcp47(), c.bcp47) << '"' << c.identifier << '"';
    EXPECT_EQ(locale.languageCode(), c.language) << '"' << c.identifier << '"';
  }
}

class CurrentLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      if (const char* value = std::getenv(name)) saved_.emplace_back(name, value);
      ::unsetenv(name);
    }
  }
  void TearDown() override {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) ::unsetenv(name);
    for (auto& [name, value] : saved_) ::setenv(name.c_str(), value.c_str(), 1);
  }

 private:
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(CurrentLocale, PosixVariablesInOrder) {
  struct Case {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    const char* identifier;
  };
  const Case cases[] = {
      {nullptr, nullptr, nullptr, "en-US"},
      {nullptr, nullptr, "de_AT.UTF-8", "de_AT"},
      {nullptr, "fr_CA", "de_AT", "fr_CA"},
      {"pt_BR.UTF-8@x", "fr_CA", "de_AT", "pt_BR"},
      {"", "", "de_AT", "de_AT"},
      {"C", nullptr, "de_AT", "en-US"},
      {"POSIX", nullptr, nullptr, "en-US"},
      {nullptr, nullptr, "C.UTF-8", "en-US"},
  };
  for (const Case& c : cases) {
    for (auto [name, value] : {std::pair{"LC_ALL", c.lcAll}, {"LC_MESSAGES", c.lcMessages},
                               {"LANG", c.lang}}) {
      if (value != nullptr)
        ::setenv(name, value, 1);
      else
        ::unsetenv(name);
    }
    EXPECT_EQ(Locale::current().identifier(), c.identifier) << c.identifier;
  }
}

TEST(ResolveLocale, ExactThenLanguageThenEnglish) {
  struct Case {
    std::vector<std::string> supported;
    const char* requested;
    const char* chosen;  // identifier as listed by the engine
  };
  const Case cases[] = {
      // the first of the same language, in list order
      {{"de-DE", "de-CH", "en-US"}, "de-AT", "de-DE"},
      // an exact match wins over an earlier locale of its language
      {{"de-DE", "de-CH", "en-US"}, "de-CH", "de-CH"},
      {{"de-DE", "de-CH", "en-US"}, "de_CH", "de-CH"},
      // compared in canonical form on both sides
      {{"en_GB", "en_US"}, "en-US", "en_US"},
      // no locale of the language: silently en-US
      {{"de-DE", "en-US"}, "ja-JP", "en-US"},
      {{"de-DE", "en-US"}, "", "en-US"},
      {{"de-DE", "en-US"}, " de-DE ", "en-US"},
      // locales without a language code are passed over
      {{"", "de-DE"}, "de-AT", "de-DE"},
  };
  for (const Case& c : cases) {
    testing::Script script;
    script.supported = c.supported;
    testing::FakeEngine engine(script);
    Expected<Locale, HelperError> chosen = resolveLocale(engine, Locale(c.requested));
    ASSERT_TRUE(chosen) << c.requested;
    EXPECT_EQ(chosen.value().identifier(), c.chosen) << c.requested;
    EXPECT_EQ(engine.calls(), std::vector<std::string>{"supported"});
  }
}

TEST(ResolveLocale, NoModelIsStatusThreeWithCanonicalLocale) {
  struct Case {
    std::vector<std::string> supported;
    const char* requested;
    const char* message;
  };
  const Case cases[] = {
      {{"de-DE", "fr-CA"}, "en_GB", "no speech model for en-GB (or en-US)"},
      {{"de-DE", "fr-CA"}, "ja-JP", "no speech model for ja-JP (or en-US)"},
      {{}, "de-AT", "no speech model for de-AT (or en-US)"},
      {{"de-DE"}, "", "no speech model for und (or en-US)"},
  };
  for (const Case& c : cases) {
    testing::Script script;
    script.supported = c.supported;
    testing::FakeEngine engine(script);
    Expected<Locale, HelperError> chosen = resolveLocale(engine, Locale(c.requested));
    ASSERT_FALSE(chosen) << c.requested;
    EXPECT_EQ(chosen.error().message, c.message);
    EXPECT_EQ(chosen.error().code, 3);
  }
}

TEST_F(CurrentLocale, TakesTheSameThreeTries) {
  testing::Script script;
  script.supported = {"fr-FR", "de-DE", "de-CH", "en-US"};
  testing::FakeEngine engine(script);
  const std::pair<const char*, const char*> cases[] = {
      {"de_CH.UTF-8", "de-CH"}, {"de_AT.UTF-8", "de-DE"}, {"ja_JP.UTF-8", "en-US"}, {"C", "en-US"}};
  for (auto [lang, chosen] : cases) {
    ::setenv("LANG", lang, 1);
    Expected<Locale, HelperError> resolved = resolveLocale(engine, Locale::current());
    ASSERT_TRUE(resolved) << lang;
    EXPECT_EQ(resolved.value().identifier(), chosen) << lang;
  }

  script.supported = {"fr-FR"};
  testing::FakeEngine french(script);
  ::setenv("LANG", "de_AT.UTF-8", 1);
  Expected<Locale, HelperError> resolved = resolveLocale(french, Locale::current());
  ASSERT_FALSE(resolved);
  EXPECT_EQ(resolved.error().message, "no speech model for de-AT (or en-US)");
}

}  // namespace
}  // namespace tuvel::speech
