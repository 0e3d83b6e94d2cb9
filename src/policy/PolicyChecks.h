// Whether a candidate ROM image belongs to the running machine and may replace the running
// version. Every refusal shows its message and ends the run with error id 0; nothing has
// been written to the flash at that point.
#pragma once

#include <cstdint>

#include "policy/PolicyEnv.h"
#include "policy/SystemIdentity.h"

namespace nox::policy {

inline constexpr uint32_t kLastRomNumber = 9;

// Fills the running machine's identity: from the firmware's identity call on UEFI machines,
// then from the F segment for whatever is still missing. 0, or -1 when the segment cannot
// be mapped (what is known so far stays).
int ReadCurrentIdentity(PolicyEnv& env, SystemIdentity& identity);

// Runs the checks on one candidate. Returns when the candidate is accepted (`matched` true,
// or the choice was fixed by "rom="/"forcetype") or when the caller is to try the next ROM
// number (`matched` false).
void RunPolicyChecks(PolicyEnv& env, SystemIdentity& identity, const Candidate& candidate, bool& matched);

// The running version against "notaver=", "notxver=" and "ndwaver=".
void CheckVersionProtection(PolicyEnv& env, const SystemIdentity& identity);
// Older or equal images need the user's consent, or "forceit", or are refused; an image of
// the running version that the flash part does not hold yet (its update was cut off) goes on.
void ConfirmVersionChange(PolicyEnv& env, const SystemIdentity& identity, std::span<const uint8_t> image = {});
// Returns 0 when the running machine's extended ID is one the image accepts.
uint32_t CheckExtensionList(PolicyEnv& env, const SystemIdentity& identity);

// Whether `image` carries newer EC firmware than the flash part: reads the EC block into
// the scratch buffer and sets the layout's EC-newer flag. 0, or the flash-read error id.
uint32_t CheckEcVersion(PolicyEnv& env, std::span<const uint8_t> image);

// The unsupported-system dialog, then the end of the run.
[[noreturn]] void RefuseUnsupported(PolicyEnv& env, const SystemIdentity& identity);

}  // namespace nox::policy
