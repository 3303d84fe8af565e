#include "sim/sim_args.h"

#include <algorithm>
#include <charconv>

namespace {

bool ParseInt(const std::string &text, int lo, int hi, int &value)
{
    int base = 10;
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        digits = digits.substr(2);
        base = 16;
    }
    if (digits.empty())
        return false;
    int v = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, base);
    if (ec != std::errc() || end != digits.data() + digits.size() || v < lo || v > hi)
        return false;
    value = v;
    return true;
}

bool ParseDecimal(const std::string &text, double lo, double hi, double &value)
{
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || !(v >= lo && v <= hi))
        return false;
    value = v;
    return true;
}

} // namespace

bool ParseOpcode(const std::string &text, uint8_t &opcode)
{
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits = digits.substr(2);
    if (digits.empty() || digits.size() > 2)
        return false;
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v, 16);
    if (ec != std::errc() || end != digits.data() + digits.size())
        return false;
    opcode = static_cast<uint8_t>(v);
    return true;
}

std::string SimUsage()
{
    return "Usage: beamport-sim [--link PATH] [--plain] [knobs...]\n"
           "Serves a simulated detector on a pseudo-terminal until SIGINT or SIGTERM.\n"
           "Prints the device path (PATH when --link is given) on the first line of stdout.\n"
           "\n"
           "The detector is a Norvik in service for five months: serial SH24031507, firmware 1.4,\n"
           "hardware 005, an H2S sensor (alarms at 10.0 and 15.0 ppm, span gas 25.0 ppm), user ID\n"
           "CREW-B, hibernation allowed, calibration every 180 days and bump test every 30 days,\n"
           "lifetime alarm and self-test counters, and an event log of the last eight weeks (self-tests,\n"
           "alarms, bump tests, a calibration). Its EEPROM holds the configuration, the identity and\n"
           "the log. Readings carry a little noise, battery and temperature drift slowly, and the gas\n"
           "rises to the span gas while a calibration asks for it and falls back afterwards. The\n"
           "configuration block CRCs stay valid after every write.\n"
           "\n"
           "  --link PATH             create PATH as a symlink to the device (a stale link is replaced)\n"
           "  --plain                 the plain test unit instead: factory record, serial NV00012345 in\n"
           "                          the identity, five events, a test pattern in EEPROM, steady readings\n"
           "  --gas VALUE             a steady gas from the start, in the sensor's unit (for example 12.5;\n"
           "                          for oxygen the level read)\n"
           "  --response-seconds S    the sensor's T90 for gas applied while it runs (default 10)\n"
           "  --dead-sensor           the sensor never responds to gas\n"
           "  --silent-alarms         the reading's alarm flags never come on, whatever the gas\n"
           "  --slow-sensor[=S]       the sensor is so slow that the low alarm comes S seconds after the\n"
           "                          gas (default 90)\n"
           "  --drifted-sensor[=P]    the sensor reads P percent low (default 30) until a calibration\n"
           "                          under gas corrects it\n"
           "  --serial TEXT           the unit's serial number in its identity and record (up to 10 letters\n"
           "                          and digits, padded with \"0\")\n"
           "  --corrupt-write ADDR    a failing memory cell: every byte written to configuration address\n"
           "                          ADDR (0 to 127) is stored with its lowest bit flipped, so a read-back\n"
           "                          differs from what was written\n"
           "  --seed N                seed of the noise and of the unit's history (default 1)\n"
           "  --absent                never answer anything\n"
           "  --wake-after N          answer only the N-th wake-up frame of each sleep\n"
           "  --wake-acks N           answer a wake-up frame with N acknowledges\n"
           "  --wake-ack-gap-us N     pause before each acknowledge after the first (default 500)\n"
           "  --echo[=OP]             send every frame back at once, as an echoing adapter does, or only\n"
           "                          frames with opcode OP (the link takes an echo of a request for the\n"
           "                          start of its reply; the wake-up handshake skips echoed frames)\n"
           "  --nak OP[:TIMES]        answer requests with opcode OP by NAK (B6 B6 81)\n"
           "  --corrupt OP[:TIMES]    damage the reply to OP so that its CRC fails\n"
           "  --drop OP[:TIMES]       send no reply to OP\n"
           "  --error OP[:TIMES]      answer OP with the error code (A1 B8 C1 by default)\n"
           "  --error-code HEX        code byte of the error reply\n"
           "                          OP is a hex byte (A0 or 0xA0); 00 stands for frames without opcode;\n"
           "                          TIMES limits the fault to the first TIMES requests\n"
           "  --split N               write each reply in N pieces\n"
           "  --split-gap-us N        pause between two pieces (default 500)\n"
           "  --stray N               write N noise bytes before each reply\n"
           "  --stray-opcode OP       only before replies to OP\n"
           "  --refuse-hibernate      answer hibernate with B1 (not allowed)\n"
           "  --product N             product ID of the identity (default 2)\n"
           "  --sensor N              installed sensor code (default 1)\n"
           "  --bad-block-crc[=unit|sensor|both]\n"
           "                          start with a wrong CRC word in a configuration block (default both)\n"
           "  --no-reseal             keep a written block's old CRC word (the next read ends in 192)\n"
           "  --maintain-crc          recompute a block's CRC after a write (the default)\n"
           "  --paced                 write replies at 115200 baud (about 87 us a byte)\n"
           "  --latency-us N          turnaround before each reply\n"
           "  --cal-ms N              duration of a span calibration (default 12000; plain unit 3000)\n"
           "  --cal-fail              a finished calibration reports failure\n"
           "  --help                  this text\n"
           "\n"
           "Gas while it runs: each line on standard input is a control, answered on stdout.\n"
           "  gas VALUE               apply gas of VALUE in the sensor's unit (gas 50, gas 12.5); for\n"
           "                          oxygen VALUE is the gas's oxygen level (gas 18; gas 0 is nitrogen)\n"
           "  gas span                apply the span gas of the detector's configuration\n"
           "  gas off                 clean air again: the reading returns to 0 (oxygen: 20.9)\n"
           "SIGUSR1 applies the span gas and SIGUSR2 removes the gas, as the lines above.\n"
           "The reading follows the gas with the sensor's response; the alarm flags follow the\n"
           "detector's own set points; a calibration under gas makes the reading the span gas it\n"
           "was told.\n";
}

SimArgsResult ParseSimArgs(const std::vector<std::string> &args, SimArgs &out, std::string &error)
{
    SimOptions &o = out.options;
    o = std::find(args.begin(), args.end(), "--plain") != args.end() ? SimOptions() : SimDemoOptions();
    for (size_t i = 0; i < args.size(); ++i) {
        std::string flag = args[i];
        std::string value;
        bool hasValue = false;
        if (const auto eq = flag.find('='); flag.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = flag.substr(eq + 1);
            flag = flag.substr(0, eq);
            hasValue = true;
        }
        auto need = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= args.size()) {
                error = flag + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        auto number = [&](int lo, int hi, int &target) -> bool {
            if (!need())
                return false;
            if (!ParseInt(value, lo, hi, target)) {
                error = flag + ": bad number '" + value + "'";
                return false;
            }
            return true;
        };
        auto fault = [&](SimFault kind) -> bool {
            if (!need())
                return false;
            std::string op = value;
            int times = -1;
            if (const auto colon = value.find(':'); colon != std::string::npos) {
                op = value.substr(0, colon);
                if (!ParseInt(value.substr(colon + 1), 0, 1000000, times)) {
                    error = flag + ": bad count in '" + value + "'";
                    return false;
                }
            }
            uint8_t code = 0;
            if (!ParseOpcode(op, code)) {
                error = flag + ": bad opcode '" + op + "'";
                return false;
            }
            o.SetFault(code, kind, times);
            return true;
        };
        // A duration in seconds, above 0 and at most a day.
        auto seconds = [&](double &target) -> bool {
            if (!need())
                return false;
            double v = 0;
            if (!ParseDecimal(value, 0, 86400, v) || !(v > 0)) {
                error = flag + ": bad seconds '" + value + "'";
                return false;
            }
            target = v;
            return true;
        };
        int n = 0;
        bool ok = true;
        if (flag == "--help" || flag == "-h")
            return SimArgsResult::kHelp;
        else if (flag == "--link")
            ok = need() && !(out.link = value).empty();
        else if (flag == "--plain")
            ; // chosen above, before any knob
        else if (flag == "--gas") {
            ok = need() && ParseDecimal(value, -3276.8, 3276.6, o.gas);
            if (!ok && error.empty())
                error = flag + ": bad value '" + value + "'";
        } else if (flag == "--seed")
            ok = number(0, 2147483647, n) && ((o.seed = static_cast<uint32_t>(n)), true);
        else if (flag == "--serial") {
            ok = need() && !value.empty() && value.size() <= 10 &&
                 std::all_of(value.begin(), value.end(), [](char c) {
                     return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
                 });
            if (ok)
                o.serial = value;
            else if (error.empty())
                error = flag + ": expected 1 to 10 letters and digits, not '" + value + "'";
        } else if (flag == "--corrupt-write")
            ok = number(0, 127, o.corrupt_write);
        else if (flag == "--wake-acks")
            ok = number(1, 100, o.wake_acks);
        else if (flag == "--wake-ack-gap-us")
            ok = number(0, 1000000, o.wake_ack_gap_us);
        else if (flag == "--echo") {
            o.echo = true;
            uint8_t code = 0;
            if (hasValue && !ParseOpcode(value, code)) {
                error = flag + ": bad opcode '" + value + "'";
                ok = false;
            }
            o.echo_opcode = hasValue ? code : -1;
        } else if (flag == "--no-reseal")
            o.crc_on_write = SimCrcOnWrite::kKeep;
        else if (flag == "--absent")
            o.absent = true;
        else if (flag == "--wake-after")
            ok = number(1, 1000000, o.wake_after);
        else if (flag == "--nak")
            ok = fault(SimFault::kNak);
        else if (flag == "--corrupt")
            ok = fault(SimFault::kCorrupt);
        else if (flag == "--drop")
            ok = fault(SimFault::kDrop);
        else if (flag == "--error")
            ok = fault(SimFault::kError);
        else if (flag == "--error-code" || flag == "--stray-opcode") {
            uint8_t code = 0;
            ok = need() && ParseOpcode(value, code);
            if (!ok && error.empty())
                error = flag + ": bad opcode '" + value + "'";
            if (ok && flag == "--error-code")
                o.error_code = code;
            else if (ok)
                o.stray_opcode = code;
        } else if (flag == "--split")
            ok = number(1, 1000, o.split_pieces);
        else if (flag == "--split-gap-us")
            ok = number(0, 10000000, o.split_gap_us);
        else if (flag == "--stray")
            ok = number(0, 1000, o.stray_bytes);
        else if (flag == "--refuse-hibernate")
            o.refuse_hibernate = true;
        else if (flag == "--product" || flag == "--sensor") {
            ok = number(0, 255, n);
            if (ok)
                (flag == "--product" ? o.product_id : o.sensor_code) = static_cast<uint8_t>(n);
        } else if (flag == "--bad-block-crc") {
            if (!hasValue || value == "both")
                o.bad_block_crc = 3;
            else if (value == "unit")
                o.bad_block_crc = 1;
            else if (value == "sensor")
                o.bad_block_crc = 2;
            else {
                error = "--bad-block-crc: expected unit, sensor or both";
                ok = false;
            }
        } else if (flag == "--maintain-crc")
            o.crc_on_write = SimCrcOnWrite::kMaintain;
        else if (flag == "--paced")
            o.paced = true;
        else if (flag == "--latency-us")
            ok = number(0, 10000000, o.latency_us);
        else if (flag == "--cal-ms")
            ok = number(0, 3600000, o.calibration_ms);
        else if (flag == "--cal-fail")
            o.calibration_fails = true;
        else if (flag == "--response-seconds")
            ok = seconds(o.response_seconds);
        else if (flag == "--dead-sensor")
            o.sensor_kind = SimSensorKind::kDead;
        else if (flag == "--silent-alarms")
            o.silent_alarms = true;
        else if (flag == "--slow-sensor") {
            o.sensor_kind = SimSensorKind::kSlow;
            ok = !hasValue || seconds(o.slow_alarm_seconds);
        } else if (flag == "--drifted-sensor") {
            o.sensor_kind = SimSensorKind::kDrifted;
            ok = !hasValue || ParseDecimal(value, 0, 99, o.drift_percent);
            if (!ok)
                error = flag + ": bad percentage '" + value + "' (0 to 99)";
        }
        else {
            error = "unknown option '" + args[i] + "'";
            ok = false;
        }
        if (!ok) {
            if (error.empty())
                error = flag + ": bad value";
            return SimArgsResult::kError;
        }
    }
    return SimArgsResult::kRun;
}
