#include "support/memory_device.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

namespace tabulon {
namespace {

// The actions get only the record: each bound record finds its device here.
std::vector<std::pair<const LineFile*, MemoryDevice*>>& Bindings() {
  static std::vector<std::pair<const LineFile*, MemoryDevice*>> bindings;
  return bindings;
}

void Bind(const LineFile& file, MemoryDevice& device) {
  for (auto& binding : Bindings()) {
    if (binding.first == &file) {
      binding.second = &device;
      return;
    }
  }
  Bindings().emplace_back(&file, &device);
}

MemoryDevice& DeviceOf(const LineFile& file) {
  for (const auto& binding : Bindings()) {
    if (binding.first == &file) return *binding.second;
  }
  std::abort();  // an action of a record that was never bound to a device
}

std::int32_t RefillFromMemory(LineFile& file) {
  MemoryDevice& device = DeviceOf(file);
  SetFilled(file, 0);
  if (device.FailCode != 0) return device.FailCode;
  const std::size_t piece =
      device.Piece != 0 ? 1 + device.SourceAt % device.Piece : CapacityOf(file);
  const std::size_t n =
      std::min({piece, std::size_t{CapacityOf(file)}, device.Source.size() - device.SourceAt});
  if (n != 0) std::memcpy(DeviceBuffer(file), device.Source.data() + device.SourceAt, n);
  // No byte past the data may be read: a line end there would be taken.
  if (device.Poisons) {
    std::memset(DeviceBuffer(file) + n, '\n', std::min(CapacityOf(file) + 1, kFileCapacity) - n);
  }
  device.SourceAt += n;
  SetFilled(file, static_cast<std::uint32_t>(n));
  return 0;
}

std::int32_t WriteOutToMemory(LineFile& file) {
  MemoryDevice& device = DeviceOf(file);
  const std::uint32_t count = TakeWaiting(file);
  if (device.FailCode != 0) return device.FailCode;
  if (!device.Discards) device.Written.append(DeviceBuffer(file), count);
  return 0;
}

std::int32_t CloseMemory(LineFile& file) {
  MarkClosed(file);
  return 0;
}

void OpenOnMemory(LineFile& file, MemoryDevice& device, std::uint32_t capacity, LineFileState state,
                  LineFileAction transfer) {
  BindName(file, "memory", capacity);
  Bind(file, device);
  OpenOnDevice(file, state, transfer, CloseMemory);
}

}  // namespace

void OpenMemoryReader(LineFile& file, MemoryDevice& device, std::uint32_t capacity) {
  device.SourceAt = 0;
  OpenOnMemory(file, device, capacity, StateReading, RefillFromMemory);
}

void OpenMemoryWriter(LineFile& file, MemoryDevice& device, std::uint32_t capacity) {
  device.Written.clear();
  OpenOnMemory(file, device, capacity, StateWriting, WriteOutToMemory);
}

std::string& WrittenSoFar(LineFile& file, MemoryDevice& device) {
  if (StateOf(file) == StateWriting) WriteOutToMemory(file);
  return device.Written;
}

}  // namespace tabulon
