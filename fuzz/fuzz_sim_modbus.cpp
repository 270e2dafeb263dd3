// linesim's Modbus request parser and answers: any byte stream, split into requests the way a
// connection splits it, against a module of each register layout.
#include <cstddef>
#include <cstdint>

#include "sim/line.h"
#include "sim/modbus.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (uint8_t family : {uint8_t{0x09}, uint8_t{0x0C}}) {
    sim::ModuleSetup setup;
    setup.serial = 42;
    setup.family = family;
    sim::SimModule module(setup);
    size_t used = 0;
    for (;;) {
      sim::ModbusRequest request;
      const auto extract = sim::ExtractRequest(data + used, size - used, request);
      if (extract != sim::Extract::kRequest) break;
      if (request.frameLength == 0 || request.frameLength > size - used) __builtin_trap();
      used += request.frameLength;
      const sim::ModbusAnswer answer = sim::AnswerRequest(request, module, request.transaction);
      if (answer.close) break;
      // An answer is a whole frame whose length field counts what follows it.
      if (answer.bytes.size() < 9 ||
          ((answer.bytes[4] << 8) | answer.bytes[5]) + 6u != answer.bytes.size()) {
        __builtin_trap();
      }
      if (auto command = module.TakeCommand()) {
        if (command->kind == sim::CommandKind::kSave)
          module.FinishSave(command->first, command->count);
        if (command->kind == sim::CommandKind::kFormat) module.FinishFormat();
        if (command->kind == sim::CommandKind::kRestart) module.Restart();
      }
    }
  }
  return 0;
}
