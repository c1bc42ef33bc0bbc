// Every control's About box, through its ShowAboutBox as a host receives it, and the form.
#include "screens/AboutBox.h"

#include <gtest/gtest.h>

#include "frame/AboutBox.h"
#include "platform/PluginControl.h"
#include "plclink/Version.h"

namespace plc::screens {
namespace {

// What the control's ShowAboutBox asked its host to show.
DialogRequest AboutOf(const char* library) {
  PluginControl control = PluginControl::Load(library);
  StandaloneHost host;
  std::vector<DialogRequest> shown;
  host.onDialog = [&](const DialogRequest& d) { shown.push_back(d); };
  control->SetHost(&host);
  control->Invoke("ShowAboutBox", {});
  EXPECT_EQ(shown.size(), 1u) << library;
  return shown.empty() ? DialogRequest{} : shown.front();
}

TEST(AboutBox, EachControlShowsItsTitleAndTheBuildsVersion) {
  const std::string version = "Version " + std::to_string(PLCLINK_VERSION_MAJOR) + "." +
                              std::to_string(PLCLINK_VERSION_MINOR) + "." + std::to_string(PLCLINK_VERSION_PATCH);
  struct Case {
    const char* library;
    const char* caption;
    std::string version;
    const char* product;
  };
  for (const Case& c : {Case{"rtulink", "About rtulink", version, "RtuLink"},
                        Case{"seqlink", "About seqlink", version, "SeqLink"},
                        Case{"DfLink", "About DfLink", version, "DfLink"},
                        // udplink keeps the design text: no number.
                        Case{"udplink", "About udplink", "Version", "UdpLink"}}) {
    DialogRequest request = AboutOf(c.library);
    EXPECT_EQ(request.form, "dlgAbout");
    AboutBox form(request);
    EXPECT_EQ(form.Caption(), c.caption);
    EXPECT_EQ(form.VersionLabel(), c.version) << c.library;
    ASSERT_FALSE(form.Labels().empty()) << c.library;
    EXPECT_EQ(form.Labels().front().rfind(c.product, 0), 0u) << form.Labels().front();
    EXPECT_EQ(form.Texts().front(), c.caption);
  }
}

TEST(AboutBox, OkUnloadsTheForm) {
  AboutBox form(AboutOf("rtulink"));
  EXPECT_TRUE(form.Loaded());
  form.Command1();
  EXPECT_FALSE(form.Loaded());
}

TEST(AboutBox, VersionOfThisBuildIsMajorMinorRevision) {
  EXPECT_EQ(BuildVersionText(), PLCLINK_VERSION);
}

}  // namespace
}  // namespace plc::screens
