// The adapter chooser's rule of quillmar-cli: the adapter that holds the target is taken, --yes
// never cancels a choice it can make, and nobody to ask is a refusal the command sees.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "apps/quillmar-cli/cli_support.h"
#include "base/prompt.h"
#include "discovery/mreg_app.h"
#include "fixtures/temp_log.h"

namespace {

struct AdapterSetup {
  const char* address;  // the adapter's own address, mask /24
  std::vector<uint32_t> serials;
};

uint32_t Ipv4(const char* text) {
  in_addr parsed{};
  inet_pton(AF_INET, text, &parsed);
  return parsed.s_addr;
}

// An application whose adapters are listed in the chooser in the given order.
void Fill(CMRegApp& app, const std::vector<AdapterSetup>& setups) {
  int index = 0;
  for (const AdapterSetup& setup : setups) {
    auto adapter = std::make_shared<CNAdapter>();
    adapter->name = "eth" + std::to_string(index);
    adapter->listIndex = index++;
    adapter->info.ipAddress = Ipv4(setup.address);
    adapter->info.mask = Ipv4("255.255.255.0");
    adapter->info.addresses = {{adapter->info.ipAddress, adapter->info.mask}};
    for (uint32_t serial : setup.serials) {
      auto node = std::make_shared<CNode_Data>();
      node->serialNumber = serial;
      adapter->nodes.push_back(node);
    }
    app.adapters.push_back(adapter);
  }
}

TEST(ChoosingPrompt, TakesTheAdapterThatHoldsTheTarget) {
  struct Case {
    const char* name;
    std::optional<params::Ipv4Bytes> address;
    std::optional<uint32_t> serial;
    bool yes;
    int terminalChoice;  // what the terminal answers when it is asked
    int chosen;
    bool terminalAsked;
  };
  const std::vector<AdapterSetup> adapters = {
      {"192.168.202.10", {11, 12}}, {"192.168.203.10", {21}}, {"192.168.203.11", {31}}};
  const params::Ipv4Bytes net202{192, 168, 202, 20};
  const params::Ipv4Bytes net203{192, 168, 203, 20};
  const params::Ipv4Bytes net204{192, 168, 204, 20};
  const Case cases[] = {
      {"one adapter holds the address", net202, std::nullopt, false, -1, 0, false},
      {"one adapter holds it, --yes", net202, std::nullopt, true, -1, 0, false},
      {"two hold it: the terminal decides", net203, std::nullopt, false, 2, 2, true},
      {"two hold it, nobody to ask", net203, std::nullopt, false, -1, -1, true},
      {"two hold it, --yes: the first", net203, std::nullopt, true, -1, 1, false},
      {"none holds it, --yes: refused", net204, std::nullopt, true, 0, -1, false},
      {"none holds it: the terminal decides", net204, std::nullopt, false, 0, 0, true},
      {"no target, --yes: refused", std::nullopt, std::nullopt, true, 0, -1, false},
      {"the adapter of a serial number", std::nullopt, 31u, false, -1, 2, false},
      {"an unknown serial, --yes: refused", std::nullopt, 99u, true, 0, -1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fixtures::ScopedTempLog log;  // the choice and a refusal are logged
    base::ScriptedPrompt terminal;
    terminal.SetDefaultChoice(c.terminalChoice);
    CMRegApp app;
    Fill(app, adapters);
    cli::ChoosingPrompt chooser(terminal, app);
    chooser.SetAssumeYes(c.yes);
    chooser.SetTargetAddress(c.address);
    chooser.SetTargetSerial(c.serial);
    const int chosen =
        chooser.ChooseAdapter({"eth0 - (2 Knoten)", "eth1 - (1 Knoten)", "eth2 - (1 Knoten)"});
    EXPECT_EQ(chosen, c.chosen);
    EXPECT_EQ(chooser.ChoiceRefused(), c.chosen < 0);
    EXPECT_EQ(terminal.CountOf("choose"), c.terminalAsked ? 1u : 0u);
    EXPECT_EQ(log.CountContaining("no adapter was chosen"), c.chosen < 0 ? 1u : 0u);
  }
}

}  // namespace
