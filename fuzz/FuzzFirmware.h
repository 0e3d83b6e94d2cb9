// A firmware that answers with the fuzzer's bytes. The driver port behind the utility's
// firmware layer hands out real buffers for the shared block and the F and E segments;
// every SMI lets the "firmware" overwrite stretches of them with the next input bytes, the
// way a handler answers in place. A released block is freed, so a stale pointer into it is
// a sanitizer report.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "config/ModuleSlots.h"
#include "core/Bytes.h"
#include "firmware/IoDriver.h"
#include "firmware/SmiFlash.h"
#include "os/Clock.h"
#include "os/FirmwareTables.h"

namespace nox::fuzz {

class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t Le16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
  uint32_t Le32() { return Le16() | (static_cast<uint32_t>(Le16()) << 16); }
  std::span<const uint8_t> Take(size_t n) {
    n = std::min(n, size_ - at_);
    const std::span<const uint8_t> out(data_ + at_, n);
    at_ += n;
    return out;
  }
  std::span<const uint8_t> Rest() { return Take(size_ - at_); }
  bool Empty() const { return at_ >= size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

class FirmwarePort : public firmware::DriverPort, public os::Clock, public os::FirmwareTables {
 public:
  static constexpr uint64_t kBlockBase = 0x40000000;
  static constexpr uint32_t kMaxBlock = 1u << 20;

  explicit FirmwarePort(Input& in) : in_(in), f_(0x10000), e_(0x10000) {}

  // Up to three stretches: a selector byte (memory and count), then offset and length.
  void Answer() {
    const uint8_t selector = in_.Byte();
    for (int n = 0; n < (selector & 3); ++n) {
      std::vector<uint8_t>* target = (selector & 0x0C) == 0x04 ? &f_ : (selector & 0x0C) == 0x08 ? &e_ : Current();
      const uint16_t offset = in_.Le16();
      const auto bytes = in_.Take(in_.Byte());
      if (!target || target->empty()) return;
      const size_t at = offset % target->size();
      std::copy_n(bytes.begin(), std::min(bytes.size(), target->size() - at), target->begin() + at);
    }
  }
  // Fills the segments from the input before the firmware is first looked at.
  void SeedSegments() {
    for (int i = 0; i < 4; ++i) {
      auto& segment = (in_.Byte() & 1) ? f_ : e_;
      const size_t at = in_.Le16() % segment.size();
      const auto bytes = in_.Take(in_.Le16() % 512);
      std::copy_n(bytes.begin(), std::min(bytes.size(), segment.size() - at), segment.begin() + at);
    }
  }
  std::vector<uint8_t>& FSegment() { return f_; }
  std::vector<uint8_t>& ESegment() { return e_; }
  int smis = 0;
  // When set, answers every SMI in the shared block instead of the input.
  std::function<void(std::vector<uint8_t>& block)> firmware;

  bool PlatformIsNt() override { return true; }
  uint32_t MajorVersion() override { return 10; }
  std::optional<std::string> OwnExecutablePath() override { return std::string("C:\\nox.exe"); }
  std::string CurrentDirectoryPrefix() override { return "C:\\"; }
  bool WriteWholeFile(const std::string&, std::span<const uint8_t>) override { return true; }
  bool RemoveFile(const std::string&) override { return true; }
  firmware::PortHandle OpenServiceManager(uint32_t) override { return 1; }
  firmware::PortHandle CreateKernelService(firmware::PortHandle, const std::string&, const std::string&) override {
    return 2;
  }
  firmware::PortHandle OpenNamedService(firmware::PortHandle, const std::string&, uint32_t) override {
    return opened_++ % 2 ? 2 : 0;
  }
  bool StartNamedService(firmware::PortHandle, uint32_t&) override { return true; }
  bool StopService(firmware::PortHandle) override { return true; }
  bool DeleteNamedService(firmware::PortHandle) override { return true; }
  void CloseServiceHandle(firmware::PortHandle) override {}
  firmware::PortHandle OpenDevice(const std::string&, uint32_t, uint32_t, uint32_t, uint32_t) override { return 3; }
  bool CloseDevice(firmware::PortHandle) override { return true; }

  bool Control(firmware::PortHandle, uint32_t code, std::span<uint8_t> record, uint32_t& returned) override {
    namespace d = firmware::driver;
    switch (code) {
      case d::kNtAllocate: {
        const uint32_t size = core::LoadLe32(record.data());
        if (size == 0 || size > kMaxBlock) return false;
        blocks_.push_back(std::make_unique<std::vector<uint8_t>>(size, 0xA5));
        const uint32_t address = static_cast<uint32_t>(kBlockBase + (blocks_.size() - 1) * kMaxBlock);
        core::StoreLe32(&record[4], address);
        core::StoreLe32(&record[8], address);
        returned = 12;
        return true;
      }
      case d::kNtRelease:
        if (!blocks_.empty()) blocks_.back().reset();
        return true;
      case d::kNtMap: {
        const uint32_t physical = core::LoadLe32(&record[12]);
        if (physical != 0xF0000 && physical != 0xE0000) return false;
        core::StoreLe64(&record[16], physical);
        returned = 24;
        return true;
      }
      case d::kNtWritePort:
        ++smis;
        if (firmware && Current()) {
          firmware(*Current());
        } else {
          Answer();
        }
        return true;
      default: return false;
    }
  }

  std::span<uint8_t> Memory(uint64_t address, size_t length) override {
    std::vector<uint8_t>* memory = nullptr;
    uint64_t base = 0;
    if (address == 0xF0000) {
      memory = &f_, base = address;
    } else if (address == 0xE0000) {
      memory = &e_, base = address;
    } else if (address >= kBlockBase) {
      const uint64_t index = (address - kBlockBase) / kMaxBlock;
      if (index < blocks_.size() && blocks_[index]) memory = blocks_[index].get(), base = kBlockBase + index * kMaxBlock;
    }
    if (!memory || !core::InRange(memory->size(), address - base, length)) return {};
    return std::span<uint8_t>(*memory).subspan(address - base, length);
  }

  void SleepMs(uint32_t ms) override { now_ += ms; }
  uint64_t NowMs() override { return now_; }

  bool HasTableService() override { return fadt_.size() > 0; }
  uint32_t ReadTable(uint32_t, uint32_t, std::span<uint8_t> buffer) override {
    if (buffer.size() >= fadt_.size()) std::copy(fadt_.begin(), fadt_.end(), buffer.begin());
    return static_cast<uint32_t>(fadt_.size());
  }
  bool EnableSystemEnvironmentPrivilege() override { return true; }
  uint32_t ProbeFirmwareVariable() override { return variableProbe_; }
  void SetFadt(std::span<const uint8_t> fadt) { fadt_.assign(fadt.begin(), fadt.end()); }
  void SetVariableProbe(uint32_t code) { variableProbe_ = code; }

 private:
  std::vector<uint8_t>* Current() { return blocks_.empty() || !blocks_.back() ? nullptr : blocks_.back().get(); }

  Input& in_;
  std::vector<uint8_t> f_, e_;
  std::vector<std::unique_ptr<std::vector<uint8_t>>> blocks_;
  std::vector<uint8_t> fadt_;
  uint32_t variableProbe_ = 1;
  uint64_t now_ = 0;
  int opened_ = 0;
};

// The utility's firmware layer on the port, driver loaded and a shared block allocated.
struct FirmwareRig {
  explicit FirmwareRig(Input& in) : port(in), driver(port, modules, true), smi(driver, port) {
    driver.LoadIoDriver();
    smi.AllocateSharedBlock();
  }
  FirmwarePort port;
  config::ModuleSlots modules;
  firmware::IoDriver driver;
  firmware::SmiFlash smi;
};

}  // namespace nox::fuzz
