// SPDX-License-Identifier: MIT
#include "engine/keyring.h"

#include <cstdlib>

#include <gio/gio.h>
#include <libsecret/secret.h>
#include <sys/stat.h>

namespace bw::engine {

namespace {

// Entries are found by their attributes alone (DONT_MATCH_NAME), so other tools can list them with
// `secret-tool search application bellwick`.
const SecretSchema kLoginSchema = {"org.tolvenby.Bellwick.Login", SECRET_SCHEMA_DONT_MATCH_NAME,
    {
        {"application", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"protocol", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"server", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {"port", SECRET_SCHEMA_ATTRIBUTE_INTEGER},
        {"user", SECRET_SCHEMA_ATTRIBUTE_STRING},
        {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING},
    },
    0, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};

constexpr const char *kSecretServiceName = "org.freedesktop.secrets";

// The session bus's address as GLib would find it, but never its autolaunch: a missing bus stays missing.
std::string sessionBusAddress()
{
    if (const char *address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
        return address;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime)
        return {};
    const std::string socketPath = std::string(runtime) + "/bus";

    struct stat info
    {};

    if (::stat(socketPath.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode))
        return {};
    return "unix:path=" + socketPath;
}

struct ConnectWait
{
    GDBusConnection *connection = nullptr;
    bool done = false;
};

void onConnected(GObject *, GAsyncResult *result, gpointer data)
{
    auto *wait = static_cast<ConnectWait *>(data);
    wait->connection = g_dbus_connection_new_for_address_finish(result, nullptr);
    wait->done = true;
}

gboolean onConnectTimeout(gpointer cancellable)
{
    g_cancellable_cancel(static_cast<GCancellable *>(cancellable));
    return G_SOURCE_REMOVE;
}

// Connects on a private main context, so a bus that accepts and then says nothing costs `timeoutMs`.
GDBusConnection *connectWithin(const std::string &address, int timeoutMs)
{
    GMainContext *context = g_main_context_new();
    g_main_context_push_thread_default(context);
    GCancellable *cancellable = g_cancellable_new();
    ConnectWait wait;
    g_dbus_connection_new_for_address(address.c_str(),
        static_cast<GDBusConnectionFlags>(
            G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT | G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable, onConnected, &wait);
    GSource *timer = g_timeout_source_new(static_cast<guint>(timeoutMs));
    g_source_set_callback(timer, onConnectTimeout, cancellable, nullptr);
    g_source_attach(timer, context);
    while (!wait.done)
        g_main_context_iteration(context, TRUE);
    g_source_destroy(timer);
    g_source_unref(timer);
    g_object_unref(cancellable);
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    return wait.connection;
}

bool busNameListed(GDBusConnection *bus, const char *method, int timeoutMs)
{
    GVariant *reply = g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
        "org.freedesktop.DBus", method, nullptr, G_VARIANT_TYPE("(as)"), G_DBUS_CALL_FLAGS_NO_AUTO_START,
        timeoutMs, nullptr, nullptr);
    if (!reply)
        return false;
    bool listed = false;
    GVariantIter *names = nullptr;
    const gchar *name = nullptr;
    g_variant_get(reply, "(as)", &names);
    while (!listed && g_variant_iter_next(names, "&s", &name))
        listed = g_strcmp0(name, kSecretServiceName) == 0;
    g_variant_iter_free(names);
    g_variant_unref(reply);
    return listed;
}

struct Attributes
{
    explicit Attributes(const KeyringLogin &login)
        : table(g_hash_table_new_full(g_str_hash, g_str_equal, nullptr, g_free))
    {
        insert("application", "bellwick");
        insert("protocol", login.protocol);
        insert("server", login.server);
        insert("port", std::to_string(login.port));
        insert("user", login.user);
    }

    ~Attributes() { g_hash_table_unref(table); }

    Attributes(const Attributes &) = delete;
    Attributes &operator=(const Attributes &) = delete;

    void insert(const char *key, const std::string &value)
    {
        g_hash_table_insert(table, const_cast<char *>(key), g_strdup(value.c_str()));
    }

    GHashTable *table;
};

} // namespace

bool secretServiceReachable(int timeoutMs)
{
    const std::string address = sessionBusAddress();
    if (address.empty())
        return false;
    GDBusConnection *bus = connectWithin(address, timeoutMs);
    if (!bus)
        return false;
    // A running service, or one the bus starts on the first call (as GNOME Keyring is on many desktops).
    const bool reachable =
        busNameListed(bus, "ListNames", timeoutMs) || busNameListed(bus, "ListActivatableNames", timeoutMs);
    g_dbus_connection_close_sync(bus, nullptr, nullptr);
    g_object_unref(bus);
    return reachable;
}

struct Keyring::Glib
{
    GCancellable *cancellable = g_cancellable_new();

    ~Glib() { g_object_unref(cancellable); }
};

Keyring::Keyring()
    : m_glib(std::make_unique<Glib>())
{}

Keyring::~Keyring() = default;

void Keyring::cancel()
{
    g_cancellable_cancel(m_glib->cancellable);
}

namespace {

// Takes the GError's message (and frees it); true when there was none.
bool takeError(GError *error, std::string &message)
{
    if (!error)
        return true;
    message = error->message ? error->message : "keyring error";
    g_error_free(error);
    return false;
}

} // namespace

bool Keyring::store(const KeyringLogin &login, const std::string &password)
{
    Attributes attributes(login);
    GError *error = nullptr;
    const bool stored =
        secret_password_storev_sync(&kLoginSchema, attributes.table, SECRET_COLLECTION_DEFAULT,
            keyringLabel(login).c_str(), password.c_str(), m_glib->cancellable, &error);
    return takeError(error, m_lastError) && stored;
}

Keyring::Lookup Keyring::find(const KeyringLogin &login)
{
    Attributes attributes(login);
    GError *error = nullptr;
    gchar *found = secret_password_lookupv_sync(&kLoginSchema, attributes.table, m_glib->cancellable, &error);
    Lookup lookup;
    lookup.failed = !takeError(error, m_lastError);
    if (found) {
        lookup.password = std::string(found);
        secret_password_free(found);
    }
    return lookup;
}

bool Keyring::remove(const KeyringLogin &login)
{
    Attributes attributes(login);
    GError *error = nullptr;
    secret_password_clearv_sync(&kLoginSchema, attributes.table, m_glib->cancellable, &error);
    return takeError(error, m_lastError);
}

} // namespace bw::engine
