#include "firmware/OemCall.h"

#include <algorithm>
#include <cstring>

#include "core/Bytes.h"

namespace nox::firmware {

void OemCallRecord::WriteTo(std::span<uint8_t, kSize> out) const {
  core::StoreLe16(&out[0], callClass);
  core::StoreLe16(&out[2], select);
  for (size_t i = 0; i < 4; ++i) {
    core::StoreLe32(&out[4 + 4 * i], inputs[i]);
    core::StoreLe32(&out[20 + 4 * i], outputs[i]);
  }
}

OemCallRecord OemCallRecord::ReadFrom(std::span<const uint8_t, kSize> in) {
  OemCallRecord r;
  r.callClass = core::LoadLe16(&in[0]);
  r.select = core::LoadLe16(&in[2]);
  for (size_t i = 0; i < 4; ++i) {
    r.inputs[i] = core::LoadLe32(&in[4 + 4 * i]);
    r.outputs[i] = core::LoadLe32(&in[20 + 4 * i]);
  }
  return r;
}

std::optional<OemCallRecord> OemCalls::OemCall(uint16_t callClass, uint16_t select, std::array<uint32_t, 4> inputs,
                                               std::array<uint32_t, 4> presets) {
  std::span<uint8_t> block = smi_.Block();
  if (block.size() < OemCallRecord::kSize) return std::nullopt;
  std::fill_n(block.begin(), OemCallRecord::kSize, 0);
  OemCallRecord record{callClass, select, inputs, presets};
  record.WriteTo(block.first<OemCallRecord::kSize>());
  smi_.RaiseSmi(smi::kOemCall);
  return OemCallRecord::ReadFrom(std::span<const uint8_t>(block).first<OemCallRecord::kSize>());
}

std::array<uint32_t, 4> OemCalls::AreaInputs() const {
  const uint32_t physical = smi_.BlockPhysical();
  return {physical + static_cast<uint32_t>(kArea1), physical + static_cast<uint32_t>(kArea2), 0, 0};
}

std::optional<OemCalls::IdentityAreas> OemCalls::ReadIdentity() {
  const auto r = OemCall(99, 15, AreaInputs(), {1, 0, 0, 0});
  std::span<const uint8_t> block = smi_.Block();
  if (!r || r->outputs[0] != 0 || block.size() < kArea1 + kIdentityAreaSize) return std::nullopt;
  return IdentityAreas{block.subspan(kArea1, kIdentityAreaSize), block.subspan(kArea2, 1024)};
}

std::optional<OemCalls::PlatformStatus> OemCalls::ReadPlatformStatus() {
  const auto r = OemCall(99, 17, AreaInputs(), {1, 0, 0, 0});
  if (!r || r->outputs[0] != 0) return std::nullopt;
  return PlatformStatus{static_cast<uint16_t>(r->outputs[1]), static_cast<uint8_t>(r->outputs[2])};
}

std::optional<uint8_t> OemCalls::ReadSystemNameIndex() {
  const auto r = OemCall(99, 31, {}, {255, 255, 0, 0});
  if (!r || r->outputs[0] != 0) return std::nullopt;
  return static_cast<uint8_t>(r->outputs[1]);
}

bool OemCalls::VersionProtected(uint32_t extendedId, std::array<char, 3> version) {
  const auto r = OemCall(99, 40,
                         {extendedId, static_cast<uint8_t>(version[0]), static_cast<uint8_t>(version[1]),
                          static_cast<uint8_t>(version[2])},
                         {});
  return r && r->outputs[0] == 1;
}

bool OemCalls::AdministratorPasswordSet() {
  const auto r = OemCall(10, 0, AreaInputs(), {1, 0, 0, 0});
  return r && r->outputs[0] == 0;
}

std::optional<uint8_t> OemCalls::MaximumPasswordLength() {
  const auto r = OemCall(10, 3, AreaInputs(), {1, 0, 0, 0});
  if (!r || r->outputs[0] != 0) return std::nullopt;
  return static_cast<uint8_t>(r->outputs[1] >> 8);
}

bool OemCalls::SubmitAdministratorPassword(std::string_view password) {
  std::span<uint8_t> block = smi_.Block();
  if (block.size() < kArea2) return false;
  // The characters go to the first data area with a terminating zero; longer text is cut.
  const size_t length = std::min(password.size(), size_t{1023});
  std::fill_n(block.begin() + kArea1, 1024, 0);
  std::memcpy(&block[kArea1], password.data(), length);
  const auto r = OemCall(10, 4, AreaInputs(), {1, 0, 0, 0});
  return r && r->outputs[0] == 0;
}

void OemCalls::SignalSl() { OemCall(1, 0, {0x8005, 1, 0, 0}, {0, 0, 0, 0}); }

}  // namespace nox::firmware
