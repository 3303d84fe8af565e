#include "sim/sim_control.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <sstream>
#include <vector>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string GasText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return text;
}

constexpr const char *kExpected = "expected gas VALUE, gas span or gas off";

} // namespace

bool ParseSimControl(const std::string &line, SimControl &control, std::string &error)
{
    control = SimControl{};
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    if (words.empty() || words.front()[0] == '#')
        return true;
    if (Lower(words.front()) != "gas" || words.size() != 2) {
        error = std::string("not a control: '") + line + "' (" + kExpected + ")";
        return false;
    }
    const std::string what = Lower(words[1]);
    if (what == "off") {
        control.mKind = SimControl::EKind::kRemove;
        return true;
    }
    if (what == "span") {
        control.mKind = SimControl::EKind::kApplySpan;
        return true;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(what.data(), what.data() + what.size(), value);
    if (ec != std::errc() || end != what.data() + what.size() || !(value >= 0 && value <= 3276.6)) {
        error = "gas: bad value '" + words[1] + "' (0 to 3276.6 in the sensor's unit, span or off)";
        return false;
    }
    control.mKind = SimControl::EKind::kApply;
    control.mValue = value;
    return true;
}

std::string RunSimControl(SimDetector &sim, const SimControl &control)
{
    switch (control.mKind) {
    case SimControl::EKind::kNothing:
        break;
    case SimControl::EKind::kApply:
        if (sim.ApplyGas(control.mValue))
            return "gas " + GasText(control.mValue) + " on";
        break;
    case SimControl::EKind::kApplySpan: {
        const double span = sim.SpanGas();
        if (sim.ApplyGas(span))
            return "gas " + GasText(span) + " on (span)";
        break;
    }
    case SimControl::EKind::kRemove:
        sim.RemoveGas();
        return "gas off";
    }
    return {};
}
