// Registry value and named mutexes of the PKCS#11 binding.
#pragma once

#include <string>
#include <string_view>

namespace corvane {

// HKEY_LOCAL_MACHINE "SOFTWARE\\Tovrel" value holding the PKCS#11 library's path.
inline constexpr std::u16string_view kP11LibraryKey = u"SOFTWARE\\Tovrel";
inline constexpr std::u16string_view kLibPkcs11Value = u"LibPkcs11";
// The library path buffer: 260 UTF-16 characters, 520 bytes.
inline constexpr size_t kLibPkcs11MaxBytes = 520;

// Serialises RefreshSlots.
inline constexpr std::u16string_view kMutexP11Slots = u"MUTEX_CORVANE_G_Var_ArrP11Slot_";
// Per-slot mutexes; %s is the slot description with blanks and slashes replaced by '_'.
inline constexpr const char* kMutexP11SlotPattern = "Global\\Vexmor.PKCS11.Slot.%s";
inline constexpr const char* kMutexP11ContainerPattern = "Vexmor.PKCS11.Container.%s";

// The description as it appears in the per-slot mutex names: every blank, backslash and
// forward slash replaced by an underscore.
std::string SlotMutexPart(std::string_view description);
std::u16string SlotMutexName(std::string_view description);
std::u16string ContainerMutexName(std::string_view description);

}  // namespace corvane
