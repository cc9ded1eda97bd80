#include "platform/posix/logind_bus.h"

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstring>

namespace corvane::posix {

namespace {
// Reads the variant that follows when it holds `contents`; skips it otherwise. True when read.
template <typename Read>
int ReadVariant(sd_bus_message* m, const char* contents, Read read) {
    char type = 0;
    const char* actual = nullptr;
    int r = sd_bus_message_peek_type(m, &type, &actual);
    if (r < 0) return r;
    if (type != SD_BUS_TYPE_VARIANT || actual == nullptr || std::strcmp(actual, contents) != 0) {
        return sd_bus_message_skip(m, "v");
    }
    if ((r = sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, contents)) < 0) return r;
    if ((r = read()) < 0) return r;
    return sd_bus_message_exit_container(m);
}

int ReadString(sd_bus_message* m, std::string& out) {
    const char* s = nullptr;
    const int r = sd_bus_message_read_basic(m, 's', &s);
    if (r >= 0) out = s ? s : "";
    return r;
}

int ReadBool(sd_bus_message* m, bool& out) {
    int b = 0;
    const int r = sd_bus_message_read_basic(m, 'b', &b);
    if (r >= 0) out = b != 0;
    return r;
}
}  // namespace

int ListLogindSessions(sd_bus* bus, std::vector<LogindSessionRef>& out) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus, kLogindService, kLogindPath, kLogindManager, "ListSessions", &error, &reply, "");
    sd_bus_error_free(&error);
    if (r < 0) return r;
    out.clear();
    r = sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "(susso)");
    while (r >= 0) {
        const char *id = nullptr, *user = nullptr, *seat = nullptr, *path = nullptr;
        uint32_t uid = 0;
        r = sd_bus_message_read(reply, "(susso)", &id, &uid, &user, &seat, &path);
        if (r <= 0) break;
        out.push_back({id, path});
    }
    sd_bus_message_unref(reply);
    return r < 0 ? r : 0;
}

int LogindSessionPath(sd_bus* bus, const std::string& id, std::string& path) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus, kLogindService, kLogindPath, kLogindManager, "GetSession", &error, &reply, "s",
                               id.c_str());
    if (r < 0) {
        // NoSuchSession is not a lost connection: say so with an errno the caller maps to 7022.
        if (sd_bus_error_has_name(&error, "org.freedesktop.login1.NoSuchSession")) r = -ENXIO;
        sd_bus_error_free(&error);
        return r;
    }
    const char* p = nullptr;
    r = sd_bus_message_read(reply, "o", &p);
    if (r >= 0) path = p;
    sd_bus_message_unref(reply);
    return r < 0 ? r : 0;
}

int ReadLogindSession(sd_bus* bus, const std::string& path, LogindSessionProps& out) {
    sd_bus_error error = SD_BUS_ERROR_NULL;
    sd_bus_message* reply = nullptr;
    int r = sd_bus_call_method(bus, kLogindService, path.c_str(), "org.freedesktop.DBus.Properties", "GetAll",
                               &error, &reply, "s", kLogindSession);
    if (r < 0) {
        if (sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_OBJECT) ||
            sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_METHOD) ||
            sd_bus_error_has_name(&error, SD_BUS_ERROR_UNKNOWN_INTERFACE)) {
            r = -ENXIO;  // the session has ended
        }
        sd_bus_error_free(&error);
        return r;
    }
    out = LogindSessionProps {};
    r = sd_bus_message_enter_container(reply, SD_BUS_TYPE_ARRAY, "{sv}");
    while (r >= 0) {
        r = sd_bus_message_enter_container(reply, SD_BUS_TYPE_DICT_ENTRY, "sv");
        if (r <= 0) break;
        const char* name = nullptr;
        if ((r = sd_bus_message_read_basic(reply, 's', &name)) < 0) break;
        const std::string n = name;
        if (n == "Id") {
            r = ReadVariant(reply, "s", [&] { return ReadString(reply, out.id); });
        } else if (n == "Name") {
            r = ReadVariant(reply, "s", [&] { return ReadString(reply, out.user); });
        } else if (n == "Class") {
            r = ReadVariant(reply, "s", [&] { return ReadString(reply, out.sessionClass); });
        } else if (n == "State") {
            r = ReadVariant(reply, "s", [&] { return ReadString(reply, out.state); });
        } else if (n == "Active") {
            r = ReadVariant(reply, "b", [&] { return ReadBool(reply, out.view.active); });
        } else if (n == "Remote") {
            r = ReadVariant(reply, "b", [&] { return ReadBool(reply, out.view.remote); });
        } else if (n == "LockedHint") {
            r = ReadVariant(reply, "b", [&] { return ReadBool(reply, out.view.locked); });
        } else if (n == "IdleHint") {
            r = ReadVariant(reply, "b", [&] { return ReadBool(reply, out.idleHint); });
        } else if (n == "Timestamp") {
            r = ReadVariant(reply, "t", [&] { return sd_bus_message_read_basic(reply, 't', &out.timestampUs); });
        } else if (n == "IdleSinceHint") {
            r = ReadVariant(reply, "t", [&] { return sd_bus_message_read_basic(reply, 't', &out.idleSinceUs); });
        } else if (n == "Seat") {
            r = ReadVariant(reply, "(so)", [&] {
                const char *seat = nullptr, *seatPath = nullptr;
                const int rr = sd_bus_message_read(reply, "(so)", &seat, &seatPath);
                if (rr >= 0) out.view.seat = seat ? seat : "";
                return rr;
            });
        } else {
            r = sd_bus_message_skip(reply, "v");
        }
        if (r < 0) break;
        r = sd_bus_message_exit_container(reply);
    }
    sd_bus_message_unref(reply);
    // A greeter's or a lock screen's session runs under a system account; like the Windows
    // logon screen it has no user of its own.
    if (r >= 0 && !out.sessionClass.empty() && out.sessionClass != "user") out.user.clear();
    return r < 0 ? r : 0;
}

bool IsBusGone(int error) {
    const int e = error < 0 ? -error : error;
    return e == ENOTCONN || e == ECONNRESET || e == EPIPE || e == ECONNREFUSED || e == ENOENT || e == ESHUTDOWN;
}

uint32_t WinErrorOfBusCall(int error) {
    const int e = error < 0 ? -error : error;
    if (e == ENXIO) return 7022;                 // ERROR_CTX_WINSTATION_NOT_FOUND
    if (e == EACCES || e == EPERM) return 5;     // ERROR_ACCESS_DENIED
    if (IsBusGone(e)) return 1722;               // RPC_S_SERVER_UNAVAILABLE
    if (e == ETIMEDOUT) return 1460;             // ERROR_TIMEOUT
    return 1359;                                 // ERROR_INTERNAL_ERROR
}

}  // namespace corvane::posix
