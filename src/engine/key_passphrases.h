// SPDX-License-Identifier: MIT
// The passphrases of private keys that the user typed in the window during this run, by key file. Kept
// in memory only and never saved, so that a worker's login can use a key without asking anyone.
// Thread-safe: the window stores, the workers read.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace bw::engine {

// How an item's status detail reads when its login needs a key's passphrase: "Key <path> needs its
// passphrase". The path is what keyPathOfPassphraseDetail gives back.
inline constexpr const char *kKeyPassphrasePrefix = "Key ";
inline constexpr const char *kKeyPassphraseSuffix = " needs its passphrase";

// The key file named by such a detail; empty when the detail is another one.
std::string keyPathOfPassphraseDetail(const std::string &detail);

class KeyPassphrases
{
public:
    void set(const std::string &keyPath, const std::string &passphrase);
    // The stored passphrase of the key, if one was typed this run.
    std::optional<std::string> find(const std::string &keyPath) const;
    // A passphrase that did not open the key is forgotten, so the user may be asked again.
    void forget(const std::string &keyPath);

private:
    mutable std::mutex m_mutex;
    std::map<std::string, std::string> m_passphrases; // guarded by m_mutex
};

} // namespace bw::engine
