#pragma once
// The bench's signing key: an Ed25519 key pair, one per user of a bench,
// whose private half lives in the user's own config folder
// ($XDG_CONFIG_HOME/beamport/bench.key, ~/.config/beamport without it), made
// on first use: the folder 0700, the file 0600, never through a link. Each
// record this bench writes carries the id of its public key and the
// signature over the record's hash; the store keeps the public keys.
#include <array>
#include <memory>

#include <QString>

class TBenchKey {
public:
    // The key of this user (made when there is none yet). nullptr with a
    // reason when it cannot be read or made safely.
    static std::unique_ptr<TBenchKey> LoadOrCreate(const QString &path, QString &error);
    // A key file that must exist: a regular 64-byte file of this user, mode
    // 0600 (no group or other bits), not a link, whose public half is the
    // one its private half gives. nullptr with what is wrong with it.
    static std::unique_ptr<TBenchKey> Load(const QString &path, QString &error);
    // A new key written to a new file (0600, never replacing one, never
    // through a link); its folder must exist. nullptr with the reason.
    static std::unique_ptr<TBenchKey> CreateNew(const QString &path, QString &error);
    // A key made in memory (tests, benches).
    static std::unique_ptr<TBenchKey> Generate();

    // Lowercase hex of the 32-byte public key.
    QString PublicKeyHex() const;
    // The key's id: the first 16 hex digits of SHA-256 of the public key.
    QString KeyId() const { return KeyIdOf(FPublic.data()); }
    // The first 8 digits, upper case: what a certificate number carries.
    QString ShortId() const { return KeyId().left(8).toUpper(); }
    // An organisation key's fingerprint: the 64 hex digits of SHA-256 of
    // its public key.
    QString Fingerprint() const { return FingerprintOfHex(PublicKeyHex()); }
    static QString FingerprintOfHex(const QString &publicKeyHex);
    // Lowercase hex of the detached signature over the text (the 64 hex digits of a hash).
    QString Sign(const QString &text) const;

    static QString KeyIdOf(const unsigned char *publicKey);
    static QString KeyIdOfHex(const QString &publicKeyHex);
    // True when sigHex is a good signature of text by the public key.
    static bool Verify(const QString &publicKeyHex, const QString &text, const QString &sigHex);

private:
    TBenchKey() = default;
    static std::unique_ptr<TBenchKey> Write(const QString &path, bool replaceRace, QString &error);
    std::array<unsigned char, 32> FPublic{};
    std::array<unsigned char, 64> FSecret{};
};

// $XDG_CONFIG_HOME/beamport/bench.key (~/.config/beamport/bench.key).
QString DefaultBenchKeyPath();
