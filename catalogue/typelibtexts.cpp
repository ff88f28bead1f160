// The texts and the registry key built from a library's facts; in a file of their own, so that a
// program that needs only these (corvane-cli) links nothing of the component's reading.
#include "catalogue/typelibfacts.h"

#include "common/text.h"

std::string NameLine(const TypeLibFacts& facts) {
    return facts.name + " (" + facts.description + ")";
}

std::string VersionText(unsigned short major, unsigned short minor) {
    return std::to_string(major) + "." + std::to_string(minor);
}

std::string VersionText(const TypeLibFacts& facts) {
    return VersionText(facts.majorVersion, facts.minorVersion);
}

std::string VersionKey(const std::string& guidText, unsigned short major, unsigned short minor) {
    return "TypeLib\\" + guidText + "\\" + LowerHex(major) + "." + LowerHex(minor);
}

std::string VersionKey(const TypeLibFacts& facts) {
    return VersionKey(facts.guidText, facts.majorVersion, facts.minorVersion);
}
