// SPDX-License-Identifier: MIT
// The trusted-certificates file: whatever it holds, the text written for what was read reads back as
// the same entries and unread lines, and writing that again gives the same bytes.
#include "engine/certificate_trust_store.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    using bw::engine::CertificateTrustStore;
    const std::string text(bw::fuzz::bytesOf(data, size));
    const CertificateTrustStore::Contents read = CertificateTrustStore::parse(text);
    const std::string written = CertificateTrustStore::textOf(read);
    const CertificateTrustStore::Contents again = CertificateTrustStore::parse(written);
    BW_FUZZ_CHECK(again == read);
    BW_FUZZ_CHECK(CertificateTrustStore::textOf(again) == written);
    for (const auto &[key, fingerprint] : read.fingerprints) {
        BW_FUZZ_CHECK(key.second >= 1 && key.second <= 65535);
        BW_FUZZ_CHECK(bw::engine::normalizeFingerprint(fingerprint) == fingerprint);
    }
    return 0;
}
