// .cfg reading, every version: arbitrary bytes give a record or a refusal.
//
// The whole input is the file. It is parsed in memory and read from disk
// (the two must agree), each version's converter is run on the bytes after
// the first one, and every record read survives a write and a read again:
// the fields a file applies come back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "app/config_json.h"
#include "app/cfg_actions.h"
#include "fuzz_util.h"
#include "model/config_form.h"
#include "model/config_record.h"
#include "model/settings_types.h"

namespace {

// The fields a file sets, laid over a record of zeros: two records that
// compare equal here apply the same values.
RTamselCFG Applied(const RTamselCFG &fromFile)
{
    RTamselCFG out;
    std::memset(static_cast<void *>(&out), 0, sizeof out);
    ApplyCFGFileRecord(out, fromFile);
    return out;
}

bool SameBytes(const RTamselCFG &a, const RTamselCFG &b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void CheckRoundTrip(const RTamselCFG &rec)
{
    const std::vector<uint8_t> file = CFGFileBytes(rec, 44000.25, true);
    FUZZ_CHECK(file.size() == static_cast<size_t>(kCFGFileWrittenSize));
    const std::optional<RTamselCFG> back = ParseCFGFile(file);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(SameBytes(Applied(*back), Applied(rec)));
}

// A record read from a file goes on to the editing view and the JSON
// output, whatever its bytes; the view builds a record again in both layouts.
void CheckView(const RTamselCFG &rec)
{
    ConfigForm form;
    StartConfigView(form, rec, BuiltInSensorTypes());
    RTamselCFG back = rec;
    ViewToConfig(form, back, false, rec.mUnit.mFWVersion, false, BuiltInSensorTypes());
    back = rec;
    const RViewResult result = ViewToConfig(form, back, true, rec.mUnit.mFWVersion, true, BuiltInSensorTypes());
    if (result.mLifeMessage)
        ResetLifeEditors(form);
    FUZZ_CHECK(!ConfigToJson(rec).empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzHeapTick();
    static TScratchFile scratch("cfg");

    // In memory.
    const std::optional<RTamselCFG> rec = ParseCFGFile(data, size);
    FUZZ_SAY("ParseCFGFile (%zu bytes): %s\n", size, rec ? "record" : "refused");
    if (size >= static_cast<size_t>(kCFGFileHeaderSize)) {
        int32_t version;
        std::memcpy(&version, data, sizeof version);
        const int need = CFGPayloadSize(version);
        FUZZ_CHECK(rec.has_value() == (need > 0 && size - kCFGFileHeaderSize >= static_cast<size_t>(need)));
    } else {
        FUZZ_CHECK(!rec.has_value());
    }
    if (rec) {
        CheckRoundTrip(*rec);
        CheckView(*rec);
        RTamselCFG applied = DefaultCFG();
        ApplyCFGFileRecord(applied, *rec);
        CheckView(applied);
    }

    // Each version's converter on a payload of exactly the bytes given.
    if (size >= 1) {
        const int32_t version = data[0] % 10;
        const std::vector<uint8_t> payload(data + 1, data + size);
        const std::optional<RTamselCFG> conv = ConvertCFGFile(version, payload.data(), payload.size());
        if (version >= 1 && version <= 7)
            FUZZ_CHECK(conv.has_value() == (payload.size() >= static_cast<size_t>(CFGPayloadSize(version))));
        else
            FUZZ_CHECK(!conv.has_value());
        if (conv)
            CheckRoundTrip(*conv);
    }

    // From disk: the same verdict and the same fields applied.
    WriteScratch(scratch.Path(), data, size);
    RTamselCFG target;
    std::memset(static_cast<void *>(&target), 0x5A, sizeof target);
    const RTamselCFG before = target;
    const ECFGLoad load = LoadConfigFile(scratch.Path(), target);
    FUZZ_CHECK(load == (rec ? ECFGLoad::Ok : ECFGLoad::Wrong));
    if (rec) {
        RTamselCFG expect = before;
        ApplyCFGFileRecord(expect, *rec);
        FUZZ_CHECK(SameBytes(target, expect));
    } else {
        FUZZ_CHECK(SameBytes(target, before));
    }
    return 0;
}
