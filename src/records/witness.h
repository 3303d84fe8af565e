#pragma once
// Signed heads: the id and hash of a record of a store's chain, with the
// time they were taken, signed by a bench key. A bench keeps one as its
// witness of the newest record it wrote to each store (a file beside its
// key); `records head --signed` prints one for an auditor to keep, and
// `records verify --head` takes it back.
//
// Its form is one line of JSON, the object's RFC 8785 form:
//   {"bench_key":"<key id>","hash":"<64 hex>","id":N,"public_key":"<64 hex>",
//    "sig":"<128 hex>","store":"<where>","time":"<UTC ISO 8601>"}
// `sig` is the bench key's Ed25519 signature over the lowercase hex SHA-256
// of the RFC 8785 form of the object without `sig` (as a record's over its
// hash); `bench_key` must be the id of `public_key`.
#include <QString>

#include "records/location.h"

class TBenchKey;
struct RChainHead;

struct RSignedHead {
    qint64 mId = 0;
    QString mHash, mTime, mStore, mKeyId, mPublicKey, mSig;
};

// The head signed now by `key`.
RSignedHead SignHead(qint64 id, const QString &hash, const QString &store, const TBenchKey &key);
// Its one-line form (no line end).
QString SignedHeadText(const RSignedHead &head);
// Reads the one-line form; false with the reason when it is not one, or
// when its signature is not the signature of the key it names.
bool ReadSignedHead(const QString &text, RSignedHead &head, QString &why);

// What `records verify --head` was given: "ID:HASH" (a blank for the colon
// too), a signed head, or the name of a file holding either.
enum class EHeadArgument { kHead, kSigned, kUnreadable, kForged };
EHeadArgument ReadHeadArgument(const QString &text, RChainHead &head, QString &why);

// The file in this user's key folder where this bench keeps its witness for
// the store at `location` (one file per store).
QString WitnessPath(const RStoreLocation &location);
