// The session bus, as the desktops' remote-control interfaces need it: calls
// that throw on error, with the caller's file descriptors when asked.
#pragma once

#include <gio/gio.h>
#include <gio/gunixfdlist.h>

#include <memory>
#include <string>

namespace velmora::desktops {

struct VariantUnref {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;

struct ObjectUnref {
    void operator()(gpointer o) const { g_object_unref(o); }
};
template <typename T> using ObjectPtr = std::unique_ptr<T, ObjectUnref>;

class SessionBus {
public:
    SessionBus();

    // Calls `method` of `interface` at `path` of `name` with `arguments`
    // (floating: taken) and returns the reply of `replyType`.
    VariantPtr call(const char* name, const char* path, const char* interface, const char* method,
                    GVariant* arguments, const char* replyType, GUnixFDList* fds = nullptr) const;
    // True when some connection owns `name`.
    bool hasOwner(const char* name) const;
    // Takes `name` for this connection; throws when another has it.
    void own(const char* name) const;
    // A property of `interface` at `path` of `name`.
    VariantPtr property(const char* name, const char* path, const char* interface,
                        const char* property) const;

private:
    ObjectPtr<GDBusConnection> connection_;
};

} // namespace velmora::desktops
