// How a key medium is bound to CSP containers: the record "container" on the medium (active name, "/",
// pending name), the process-wide maps keyed by the medium's serial number, new container paths, the
// cached provider handle of the active container with its probe, and promotion of the pending key.
#pragma once

#include <cstdint>
#include <string>

#include "platform/softcsp/csp.h"

namespace cryptopro {

inline constexpr char kRecordFile[] = "container";
inline constexpr char kContainerPrefix[] = "\\\\.\\REGISTRY\\zolm-";
inline constexpr uint32_t kMinVersion = 0x0400, kMaxVersion = 0x0500;

// cp_Init's check: a verification context of the 256-bit provider reports a version in 4.0 to 5.0.
void CheckCsp();

// The record's text split at its first "/" (the pending part may hold further "/").
struct ContainerRecord {
    std::string active;
    std::string pending;
};
ContainerRecord SplitRecord(const std::string &text);

// The medium's names as the plug-in holds them (empty when nothing is known yet).
ContainerRecord &Names(const std::string &serial);
// Reads "container" into the maps (no file: two empty names); a failed read changes neither.
void LoadRecord(uint32_t medium);
// Writes "container" from the maps, without asking.
void SaveRecord(uint32_t medium);

// A fresh container path "\\.\REGISTRY\zolm-<lower-case GUID>" after loading the record; *name gets
// the bare GUID.
std::string NewContainerPath(uint32_t medium, std::string *name);

// The provider handle of the active container: the cached one while it passes the probe, else a new
// acquisition (256-bit provider, type 80) that replaces it in the cache.
softcsp::ProvHandle OpenActiveContainer(uint32_t medium);

// The handle of the key generated last for the medium (0 when none); kept apart from the active
// container's handle so that signing never reaches a key whose certificate is not yet there.
softcsp::ProvHandle &GeneratedHandle(const std::string &serial);
// A context on the medium's pending container with the password offered (the CSP refuses a wrong one
// when the key is used); 0 when the record names no pending container.
softcsp::ProvHandle OpenPendingContainer(uint32_t medium, const char *password);
// Releases and forgets a medium's cached active-container handle.
void DropActiveHandle(const std::string &serial);

// cp_ActivateKey: the pending name becomes the active one and the record is saved. With no pending
// key, nothing changes and an error says so.
void PromotePending(uint32_t medium);

// The provider choice by the algorithm OID's first 17 characters.
struct ProviderChoice {
    const char *name;
    uint32_t type;
};
ProviderChoice ProviderFor(const std::string &algorithmOid);

}  // namespace cryptopro
