#include "driver_bus.h"

#include <stdexcept>

namespace velmora::desktops {

namespace {

constexpr int CALL_TIMEOUT_MS = 10000;

struct ErrorFree {
    void operator()(GError* e) const { g_error_free(e); }
};

[[noreturn]] void fail(const std::string& what, GError* error) {
    const std::unique_ptr<GError, ErrorFree> owned(error);
    throw std::runtime_error(what + ": " + (error != nullptr ? error->message : "failed"));
}

} // namespace

SessionBus::SessionBus() {
    GError* error = nullptr;
    connection_.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
    if (!connection_)
        fail("no session bus", error);
}

VariantPtr SessionBus::call(const char* name, const char* path, const char* interface,
                            const char* method, GVariant* arguments, const char* replyType,
                            GUnixFDList* fds) const {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_with_unix_fd_list_sync(
        connection_.get(), name, path, interface, method, arguments,
        replyType != nullptr ? G_VARIANT_TYPE(replyType) : nullptr, G_DBUS_CALL_FLAGS_NONE,
        CALL_TIMEOUT_MS, fds, nullptr, nullptr, &error);
    if (reply == nullptr)
        fail(std::string(interface) + "." + method, error);
    return VariantPtr(reply);
}

bool SessionBus::hasOwner(const char* name) const {
    const VariantPtr reply =
        call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
             "NameHasOwner", g_variant_new("(s)", name), "(b)");
    gboolean owned = FALSE;
    g_variant_get(reply.get(), "(b)", &owned);
    return owned != FALSE;
}

void SessionBus::own(const char* name) const {
    constexpr guint32 DO_NOT_QUEUE = 4;
    constexpr guint32 PRIMARY_OWNER = 1;
    const VariantPtr reply =
        call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
             g_variant_new("(su)", name, DO_NOT_QUEUE), "(u)");
    guint32 result = 0;
    g_variant_get(reply.get(), "(u)", &result);
    if (result != PRIMARY_OWNER)
        throw std::runtime_error(std::string("cannot own ") + name);
}

VariantPtr SessionBus::property(const char* name, const char* path, const char* interface,
                                const char* property) const {
    const VariantPtr reply = call(name, path, "org.freedesktop.DBus.Properties", "Get",
                                  g_variant_new("(ss)", interface, property), "(v)");
    GVariant* value = nullptr;
    g_variant_get(reply.get(), "(v)", &value);
    return VariantPtr(value);
}

} // namespace velmora::desktops
