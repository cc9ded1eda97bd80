// reg add / query / delete on the registry of $CORVANE_ROOT, with keys written as on Windows
// (HKLM\SOFTWARE\Tovrel\Pair\{...}). Works whether or not the service runs.
#include <cstdio>
#include <string>
#include <vector>

#include "ctl_commands.h"
#include "ctl_numbers.h"
#include "platform/posix/posix_registry.h"
#include "platform/posix/state_root.h"
#include "platform/text.h"

namespace corvane::ctl {

namespace {
struct RegArgs {
    std::string key;     // below HKEY_LOCAL_MACHINE
    bool hasName = false;
    std::string name;
    std::string type = "REG_SZ";
    bool hasData = false;
    std::string data;
};

const char* kRoots[] = {"HKLM\\", "HKEY_LOCAL_MACHINE\\"};

bool StripRoot(const std::string& full, std::string& below) {
    for (const char* root : kRoots) {
        const std::string r = root;
        if (full.size() >= r.size() && EqualsNoCase(AsciiToUtf16(full.substr(0, r.size())), AsciiToUtf16(r))) {
            below = full.substr(r.size());
            return true;
        }
    }
    return false;
}

std::string ParseArgs(const Args& args, RegArgs& out) {
    if (args.empty()) return "missing KEY";
    if (!StripRoot(args[0], out.key)) return "KEY must start with HKLM\\ or HKEY_LOCAL_MACHINE\\";
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto next = [&](std::string& into) {
            if (i + 1 >= args.size()) return false;
            into = args[++i];
            return true;
        };
        if (a == "/v" || a == "-v") {
            if (!next(out.name)) return "/v needs a value name";
            out.hasName = true;
        } else if (a == "/ve") {
            out.hasName = true;
            out.name.clear();
        } else if (a == "/t" || a == "-t") {
            if (!next(out.type)) return "/t needs a type";
        } else if (a == "/d" || a == "-d") {
            if (!next(out.data)) return "/d needs data";
            out.hasData = true;
        } else if (a == "/f" || a == "-f") {
            // forced: there is never a prompt
        } else {
            return "unexpected argument '" + a + "'";
        }
    }
    return "";
}

posix::PosixRegistry OpenRegistry() { return posix::PosixRegistry(posix::StateRoot::FromEnvironment().RegistryDir()); }

const char* TypeName(uint32_t type) {
    switch (type) {
        case RegType::Sz: return "REG_SZ";
        case RegType::Binary: return "REG_BINARY";
        case RegType::Dword: return "REG_DWORD";
        default: return "REG_NONE";
    }
}

std::string FormatData(const RegValue& v) {
    char buf[16];
    if (v.type == RegType::Dword && v.data.size() == 4) {
        const uint32_t d = v.data[0] | (v.data[1] << 8) | (v.data[2] << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
        std::snprintf(buf, sizeof buf, "0x%x", d);
        return buf;
    }
    if (v.type == RegType::Sz) {
        std::u16string s;
        for (size_t i = 0; i + 1 < v.data.size(); i += 2) {
            const char16_t c = static_cast<char16_t>(v.data[i] | (v.data[i + 1] << 8));
            if (c == 0) break;
            s.push_back(c);
        }
        return Utf16ToUtf8(s);
    }
    std::string hex;
    for (uint8_t b : v.data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        hex += buf;
    }
    return hex;
}

int FailCode(uint32_t rc, const std::string& what) {
    return corvane::ctl::Fail(what + " (error " + std::to_string(rc) + ")");
}

int Add(const Args& args) {
    RegArgs a;
    if (auto err = ParseArgs(args, a); !err.empty()) return UsageFail(err);
    auto reg = OpenRegistry();
    const std::u16string key = Utf8ToUtf16(a.key);
    if (uint32_t rc = reg.CreateKey(key)) return FailCode(rc, "cannot create key");
    if (!a.hasName && !a.hasData) return 0;
    const std::u16string name = Utf8ToUtf16(a.name);
    uint32_t rc = 0;
    if (a.type == "REG_SZ") {
        rc = RegSetString(reg, key, name, Utf8ToUtf16(a.data));
    } else if (a.type == "REG_DWORD") {
        auto n = ParseNumber(a.data.empty() ? "0" : a.data);
        if (!n) return UsageFail("REG_DWORD data must be a number: '" + a.data + "'");
        rc = RegSetDword(reg, key, name, *n);
    } else if (a.type == "REG_BINARY") {
        if (a.data.size() % 2 != 0) return UsageFail("REG_BINARY data must be an even number of hex digits");
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i < a.data.size(); i += 2) {
            auto n = ParseNumber("0x" + a.data.substr(i, 2));
            if (!n) return UsageFail("REG_BINARY data must be hex digits");
            bytes.push_back(static_cast<uint8_t>(*n));
        }
        rc = RegSetBinary(reg, key, name, bytes);
    } else {
        return UsageFail("unsupported type '" + a.type + "' (REG_SZ, REG_DWORD or REG_BINARY)");
    }
    if (rc) return FailCode(rc, "cannot set value");
    std::printf("The operation completed successfully.\n");
    return 0;
}

int Query(const Args& args) {
    RegArgs a;
    if (auto err = ParseArgs(args, a); !err.empty()) return UsageFail(err);
    auto reg = OpenRegistry();
    const std::u16string key = Utf8ToUtf16(a.key);
    if (reg.OpenKey(key) != 0) return Fail("the system was unable to find the specified registry key or value");
    std::printf("\nHKEY_LOCAL_MACHINE\\%s\n", a.key.c_str());
    std::vector<std::u16string> names;
    if (a.hasName) {
        names.push_back(Utf8ToUtf16(a.name));
    } else {
        reg.EnumValues(key, names);
    }
    for (const auto& name : names) {
        RegValue v;
        if (uint32_t rc = reg.QueryValue(key, name, v, 1 << 20)) {
            if (a.hasName) return Fail("the system was unable to find the specified registry key or value");
            return FailCode(rc, "cannot read value");
        }
        std::printf("    %s    %s    %s\n", name.empty() ? "(Default)" : Utf16ToUtf8(name).c_str(), TypeName(v.type),
                    FormatData(v).c_str());
    }
    if (!a.hasName) {
        std::vector<std::u16string> subkeys;
        reg.EnumSubkeys(key, subkeys);
        if (!subkeys.empty()) std::printf("\n");
        for (const auto& sub : subkeys) std::printf("HKEY_LOCAL_MACHINE\\%s\\%s\n", a.key.c_str(), Utf16ToUtf8(sub).c_str());
    }
    return 0;
}

int Delete(const Args& args) {
    RegArgs a;
    if (auto err = ParseArgs(args, a); !err.empty()) return UsageFail(err);
    auto reg = OpenRegistry();
    const std::u16string key = Utf8ToUtf16(a.key);
    const uint32_t rc = a.hasName ? reg.DeleteValue(key, Utf8ToUtf16(a.name)) : reg.DeleteKey(key);
    if (rc) return FailCode(rc, "cannot delete");
    std::printf("The operation completed successfully.\n");
    return 0;
}
}  // namespace

int RunReg(const Args& args) {
    if (args.empty()) return UsageFail("usage: corvane-ctl reg add|query|delete KEY ...");
    const Args rest(args.begin() + 1, args.end());
    if (args[0] == "add") return Add(rest);
    if (args[0] == "query") return Query(rest);
    if (args[0] == "delete") return Delete(rest);
    return UsageFail("unknown reg operation '" + args[0] + "'");
}

}  // namespace corvane::ctl
