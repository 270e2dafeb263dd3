// The PLC data view on node 1 of the demo line, with the tags of the PLC data line's program
// and data written into the module's area first; then the same view while the module is silent.
#include <QLabel>
#include <cstdio>
#include <vector>

#include "comm/tftp_client.h"

#include "fixtures/linesim_fixture.h"
#include "plc/tag_file.h"
#include "plc/ui/dlg_plc_cfg.h"
#include "shots.h"

namespace {

constexpr uint32_t kProgrammedModule = 3100101;  // node 1 of the demo line

// A module answers PLC data only while it holds a program: node 1 gets one first.
bool UploadProgram() {
  const std::vector<uint8_t> program(64, 0x5A);
  CTFTPClient client;
  int result = client.Put_Buf(program.data(), static_cast<uint32_t>(program.size()), "PlcData_.bin",
                              "192.168.202.20", 69);
  while (result == CTFTPClient::kGoOn) result = client.ContinuePut();
  return result == CTFTPClient::kDone;
}

int RenderPlcData(shots::Context& context) {
  int failures = 0;
  if (!UploadProgram()) {
    std::printf("the PLC program could not be stored on node 1\n");
    ++failures;
  }
  const auto write = [&](uint32_t offset, const char* hex) {
    context.line.Ok(
        {{"cmd", "plc-write"}, {"module", kProgrammedModule}, {"offset", offset}, {"hex", hex}});
  };
  write(0, "09000080");
  write(4, "F401");
  write(6, "02");
  write(8, "E8030000");
  write(2004, "2A00");
  // The tags' names and list entries are the user's own words from the tag file: never
  // translated, so never a German text left in the English view.
  const std::string tagFile = test::SourceFile("sim/lines/plc.tags.json");
  QStringList& userTexts = shots::ActiveTextChecks().userTexts;
  std::string error;
  if (const auto tags = plc::LoadTagFile(tagFile, &error)) {
    for (const plc::PlcTag& tag : tags->tags) {
      userTexts << QString::fromStdString(tag.name);
      for (const plc::ComboItem& item : tag.items) userTexts << QString::fromStdString(item.text);
    }
  } else {
    std::printf("the tag file could not be read: %s\n", error.c_str());
    ++failures;
  }
  // The demo module is taken to run the tags' program: the picture shows the view, not its check.
  plc::CDlgPLC_CFG view("192.168.202.20", tagFile, context.prompt, [](const std::string&) {
    return plc::ModuleProgram{true, true, "PLCDATA_Sorter.bin", ""};
  });
  view.show();
  const bool refreshed = shots::WaitFor([&] { return view.Refreshes() > 0; }, 20000);
  if (!refreshed) std::printf("the PLC data view was not refreshed\n");
  failures += !refreshed;
  failures += !shots::Save(&view, context.folder, QStringLiteral("plcdata_view.png"));

  context.line.SetFault(kProgrammedModule, {{"plcSilent", true}});
  const auto* status = view.findChild<QLabel*>(QStringLiteral("status"));
  const bool told = shots::WaitFor([&] { return status && !status->text().isEmpty(); }, 20000);
  failures += !told;
  failures += !shots::Save(&view, context.folder, QStringLiteral("plcdata_view_silent.png"));
  context.line.ClearFaults(kProgrammedModule);
  userTexts.clear();
  return failures;
}

const shots::Registrar kPlcData("plcdata", RenderPlcData);

}  // namespace
