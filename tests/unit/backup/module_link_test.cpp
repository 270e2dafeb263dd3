// The flash image through a real UDP socket on loopback: only the module's own answer from its
// flash image port is the image, and no more words are kept than the record has slots for.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "backup/module_link.h"
#include "comm/blocking_socket.h"
#include "fixtures/fake_modbus_server.h"
#include "fixtures/fake_module_link.h"
#include "fixtures/temp_log.h"

namespace {

// A UDP socket on 127.0.0.1 and a free port.
struct Peer {
  int fd = socket(AF_INET, SOCK_DGRAM, 0);
  uint16_t port = 0;
  Peer() {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    socklen_t length = sizeof local;
    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    port = ntohs(local.sin_port);
    timeval wait{2, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  }
  ~Peer() { close(fd); }
  // Waits for the request and answers from `from` with `words` words k + 1.
  void AnswerFrom(const Peer& from, size_t words) const {
    char request[16];
    sockaddr_in client{};
    socklen_t length = sizeof client;
    const ssize_t got =
        recvfrom(fd, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&client), &length);
    ASSERT_EQ(got, 4);
    EXPECT_EQ(std::string(request, 4), "ERGR");
    std::vector<uint8_t> image(words * 2);
    for (size_t k = 0; k < words; ++k) image[2 * k] = static_cast<uint8_t>(k + 1);
    sendto(from.fd, image.data(), image.size(), 0, reinterpret_cast<sockaddr*>(&client),
           sizeof client);
  }
};

TEST(FlashImageLink, OnlyTheModulesPortCountsAndTheImageIsCut) {
  Peer module;
  Peer stranger;
  backup::LinkPorts ports;
  ports.flashImage = module.port;
  auto link = backup::MakeModuleLink("127.0.0.1", ports);
  bool bindFailed = true;
  ASSERT_TRUE(link->OpenFlashSocket(&bindFailed));

  // An answer from another port of the module's address is not the image.
  ASSERT_TRUE(link->SendFlashRequest());
  module.AnswerFrom(stranger, 10);
  EXPECT_FALSE(link->PollFlashImage(200, 512));

  // The module's own answer is, cut to the slots the record has.
  ASSERT_TRUE(link->SendFlashRequest());
  module.AnswerFrom(module, 600);
  const auto image = link->PollFlashImage(1000, 512);
  ASSERT_TRUE(image);
  ASSERT_EQ(image->size(), 512u);
  EXPECT_EQ((*image)[0], 1);
  EXPECT_EQ((*image)[511], 512 & 0xFF);
  link->CloseFlashSocket();
}

}  // namespace

// ---- the register link: an answer that belongs to another request is a failed try ----

namespace {

using testing_support::FakeModbusServer;
using Fault = FakeModbusServer::Fault;

// The scripted module of the jobs, but with its registers behind the real register link to an
// in-process Modbus server.
class RegistersOverModbus : public test::FakeLink {
 public:
  RegistersOverModbus(test::FakeModule& module, uint16_t port) : FakeLink(module) {
    backup::LinkPorts ports;
    ports.modbus = port;
    real_ = backup::MakeModuleLink("127.0.0.1", ports);
  }
  void Connect() override { real_->Connect(); }
  void Close() override { real_->Close(); }
  bool Connected() const override { return real_->Connected(); }
  void Read(uint16_t first, uint16_t count, uint16_t* out) override {
    real_->Read(first, count, out);
  }
  void Write(uint16_t first, uint16_t count, const uint16_t* values) override {
    real_->Write(first, count, values);
  }

 private:
  std::unique_ptr<backup::ModuleLink> real_;
};

constexpr uint32_t kSerial = 4711;

void ServeModule(FakeModbusServer& server) {
  const uint8_t mac[6] = {0x00, 0x1B, 0x3C, 0x4D, 0x5E, 0x6F};
  server.SetIdentity(0x040C, "127.0.0.1", kSerial, mac);
  server.SetRegister(6, 0x0130);
}

TEST(RegisterLink, AnAnswerToAnotherRequestIsAFailedTryNotData) {
  fixtures::ScopedTempLog log;
  for (const Fault fault : {Fault::kWrongTransaction, Fault::kOtherFunction}) {
    FakeModbusServer server;
    ServeModule(server);
    backup::LinkPorts ports;
    ports.modbus = server.Port();
    auto link = backup::MakeModuleLink("127.0.0.1", ports);
    link->Connect();
    ASSERT_TRUE(link->Connected());
    uint16_t words[4] = {};
    link->Read(28, 2, words);  // a matching answer is data
    EXPECT_EQ(backup::RegisterValue(words[0]), kSerial & 0xFFFF);

    for (const bool write : {false, true}) {
      SCOPED_TRACE(
          std::string(fault == Fault::kWrongTransaction ? "other transaction" : "other function") +
          (write ? ", write" : ", read"));
      server.QueueFaults({{fault}});
      const uint16_t values[2] = {backup::WireWord(1), backup::WireWord(2)};
      try {
        if (write) {
          link->Write(40, 2, values);
        } else {
          link->Read(28, 2, words);
        }
        ADD_FAILURE() << "taken as done";
      } catch (const CBlockingSocketException& e) {
        // Not the general error: the job tries the chunk again.
        EXPECT_NE(e.Number(), 1);
        EXPECT_NE(e.GetErrorMessage().find("Error!"), std::string::npos) << e.GetErrorMessage();
      }
    }
  }
}

// Every answer carries a stale transaction id: registers 28/29 are never read, so the backup
// fails with "registers not read", never as another module on the address with serial 0.
TEST(RegisterLink, BackupOfAModuleWithStaleAnswersFailsAsRegistersNotRead) {
  fixtures::ScopedTempLog log;
  FakeModbusServer server;
  ServeModule(server);
  server.SetDefaultFault({Fault::kWrongTransaction});
  test::FakeModule module;
  RegistersOverModbus link(module, server.Port());
  backup::BackupJob job;
  job.record.serialNumber = kSerial;
  job.record.ipText = "127.0.0.1";
  job.record.moduleFamily = module.family;
  job.record.firmwareVersion = module.firmware;
  job.registerCount = backup::RegisterSlotsFor(module.firmware);
  backup::BackupTh(job, link, test::Quick(), false);
  EXPECT_EQ(job.state.load(), backup::kJobFailed);
  EXPECT_EQ(job.result.load(), backup::kBackupRegisters);
  EXPECT_EQ(job.nextRegister, 1);
  EXPECT_EQ(log.CountContaining("RegsRead = 1 from 512"), 1u) << log.Contents();
}

// The restore's first writes are answered with a stale transaction id: the module is not
// restored, and the job says so instead of saving and reporting done.
TEST(RegisterLink, RestoreWhoseWritesAreNotAnsweredFails) {
  fixtures::ScopedTempLog log;
  FakeModbusServer server;
  ServeModule(server);
  test::FakeModule module;
  RegistersOverModbus link(module, server.Port());
  backup::BackupJob job;
  job.record.serialNumber = kSerial;
  job.record.ipText = "127.0.0.1";
  job.record.registerCount = 513;
  job.record.registers.assign(513, backup::WireWord(5));
  job.record.flashImage.assign(513, backup::WireWord(7));
  job.state.store(backup::kJobRestore);
  // The identity read of the connection, then the first descriptor write twice.
  server.QueueFaults({{Fault::kNone}, {Fault::kWrongTransaction}, {Fault::kWrongTransaction}});
  backup::RestoreTh(job, link, test::Quick());
  EXPECT_EQ(job.state.load(), backup::kJobFailed);
  EXPECT_NE(job.result.load(), 0u);
  EXPECT_NE(job.errorText.find("WriteMultiplyRegisters(306, 1) Error!"), std::string::npos)
      << job.errorText;
}

}  // namespace
