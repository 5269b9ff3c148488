// Request 15001 (enable, disable, remove) on the real registry and files of
// the Wine prefix, and requests whose code and "REQUEST" do not belong together.
#include <filesystem>

#include "core/Chostkeeper.h"
#include "core/globals.h"
#include "startup/startup_test_support.h"
#include "support/recording_socket.h"

namespace {

using hk::test::kTestUser;
using hk::test::kTestUserSid;
using hk::test::StartupCommand;
using hk::test::ValueBytes;
using namespace hk::startup;

using Bytes = std::optional<std::vector<uint8_t>>;
const std::vector<uint8_t> kEnabled = {2, 0, 0, 0, 0};
const std::vector<uint8_t> kDisabled = {3, 0, 0, 0, 0};
const std::wstring kUserPrefix = std::wstring(kTestUserSid) + L"\\";

class StartupActions : public hk::test::StartupTest {
 protected:
  static std::filesystem::path Shortcut(const std::wstring& name) {
    return std::wstring(kCommonStartupFolder) + name + L".lnk";
  }
};

TEST_F(StartupActions, EnableAndDisableRewriteOnlyTheValuesThatExist) {
  const std::wstring name = L"hk-act-\u00e9t\u00e9";  // a name beyond ASCII reaches the registry intact
  registry_.Bytes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun, name, {7, 1, 2, 3, 4, 5, 6, 7});
  registry_.Bytes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun32, name, {3, 0, 0, 0, 0});
  registry_.Key(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedStartupFolder);

  const Json::Value enabled = Act("enable", name);
  EXPECT_EQ(enabled["responseCode"], 15301);
  Json::Value want(Json::objectValue);
  want["WebClientID"] = "web-act";
  want["ACTION_NAME"] = "enable";
  want["ERROR_CODE"] = "0";
  want["ACTION_RESULT"] = "Success";
  EXPECT_EQ(enabled["responseData"], want);
  EXPECT_EQ(ValueBytes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun, name), Bytes(kEnabled));
  EXPECT_EQ(ValueBytes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun32, name), Bytes(kEnabled));
  EXPECT_EQ(ValueBytes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedStartupFolder, name + L".lnk"), std::nullopt)
      << "a missing value is not created";

  EXPECT_EQ(Act("DISABLE", name)["responseData"]["ACTION_RESULT"], "Success");
  EXPECT_EQ(ValueBytes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun, name), Bytes(kDisabled));
  EXPECT_EQ(ValueBytes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedRun32, name), Bytes(kDisabled));

  Wmi().Results(hk::test::kStartupQuery).AddRow(StartupCommand(name, L"Public", L"HKLM\\...\\Run", L"C:\\t\\x.bat"));
  const auto rows = ByName(List());
  ASSERT_EQ(rows.count(hk::ToUtf8(name)), 1u);
  EXPECT_EQ(rows.at(hk::ToUtf8(name))["STATUS"], "Disabled");
}

TEST_F(StartupActions, UsersActOnTheirOwnHive) {
  registry_.Bytes(HKEY_USERS, KEY_WOW64_64KEY, kUserPrefix + kApprovedStartupFolder, L"hk-user-app.lnk", kEnabled);
  registry_.Bytes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedStartupFolder, L"hk-user-app.lnk", kEnabled);

  EXPECT_EQ(Act("Disable", L"hk-user-app", kTestUser)["responseData"]["ACTION_RESULT"], "Success");
  EXPECT_EQ(ValueBytes(HKEY_USERS, KEY_WOW64_64KEY, kUserPrefix + kApprovedStartupFolder, L"hk-user-app.lnk"),
            Bytes(kDisabled));
  EXPECT_EQ(ValueBytes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kApprovedStartupFolder, L"hk-user-app.lnk"),
            Bytes(kEnabled))
      << "the machine's value belongs to another item";

  struct Case {
    const char* name;
    std::string action;
    std::wstring app;
    std::wstring user;
  };
  const Case failures[] = {
      {"user without a loaded profile", "DISABLE", L"hk-user-app", L"HKTEST\\nobody"},
      {"unknown action", "PAUSE", L"hk-user-app", kTestUser},
      {"no application name", "DISABLE", L"", kTestUser},
  };
  for (const Case& c : failures) {
    const Json::Value answer = Act(c.action, c.app, c.user);
    EXPECT_EQ(answer["responseCode"], 15301) << c.name;
    EXPECT_EQ(answer["responseData"]["ACTION_NAME"], c.action) << c.name;
    EXPECT_EQ(answer["responseData"]["ACTION_RESULT"], "Failed") << c.name;
  }
  EXPECT_EQ(ValueBytes(HKEY_USERS, KEY_WOW64_64KEY, kUserPrefix + kApprovedStartupFolder, L"hk-user-app.lnk"),
            Bytes(kDisabled));
}

TEST_F(StartupActions, RemoveTakesTheShortcutElseTheRunValue) {
  struct Case {
    const wchar_t* name;
    bool shortcut, run64, run32;
    const char* result;
    bool run64After, run32After;  // which Run values remain
    bool needsTwoViews;
  };
  const Case cases[] = {
      {L"hk-rm-shortcut", true, true, false, "Success", true, false, false},
      {L"hk-rm-\u00e5sa", true, false, false, "Success", false, false, false},
      {L"hk-rm-run64", false, true, false, "Success", false, false, false},
      {L"hk-rm-both-views", false, true, true, "Success", false, true, true},
      {L"hk-rm-run32", false, false, true, "Success", false, false, true},
      {L"hk-rm-nothing", false, false, false, "Failed", false, false, false},
  };
  for (const Case& c : cases) {
    if (c.needsTwoViews && !wow64_) continue;
    const std::string label = hk::ToUtf8(c.name);
    if (c.shortcut) files_.Make(Shortcut(c.name));
    if (c.run64) registry_.Text(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kRunKey, c.name, L"C:\\t\\x.exe");
    if (c.run32) registry_.Text(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kRunKey, c.name, L"C:\\t\\x.exe");

    EXPECT_EQ(Act("remove", c.name)["responseData"]["ACTION_RESULT"], c.result) << label;
    EXPECT_FALSE(std::filesystem::exists(Shortcut(c.name))) << label;
    EXPECT_EQ(ValueBytes(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, kRunKey, c.name).has_value(), c.run64After) << label;
    if (wow64_) {
      EXPECT_EQ(ValueBytes(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, kRunKey, c.name).has_value(), c.run32After) << label;
    }
  }
  EXPECT_TRUE(Logged("inside delete startup Process")) << Log();
}

TEST_F(StartupActions, ARequestThatDoesNotFitItsCodeIsNotAnswered) {
  struct Case {
    const char* name;
    int code;
    const char* request;
  };
  const Case cases[] = {
      {"the list asked with the action code", 15001, "ALL_APPS"},
      {"an action asked with the list code", 15000, "REQUEST_THIS_APP_ACTION"},
      {"another code", 15002, "ALL_APPS"},
      {"no request", 15000, ""},
  };
  for (const Case& c : cases) {
    Json::Value data;
    data["REQUEST"] = c.request;
    EXPECT_TRUE(Serve(c.code, data).isNull()) << c.name;
    EXPECT_EQ(text_, nullptr) << c.name;
  }
  Json::Value lower;
  lower["REQUEST"] = "all_apps";
  EXPECT_EQ(Serve(15000, lower)["responseCode"], 15300);

  // Through the request handler the empty text goes out.
  g_running = 1;
  hk::test::RecordingWsSession session;
  session.socket().DeliverText(
      R"({"toolId":15,"requestId":3,"requestMessage":{"requestCode":15001,"requestData":{"REQUEST":"ALL_APPS"}}})");
  EXPECT_EQ(session.texts(), std::vector<std::string>{""});
  g_running = 0;
}

}  // namespace
