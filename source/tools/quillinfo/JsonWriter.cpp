#include "JsonWriter.h"

#include "Names.h"

#include <quill/ProcessorFeatures.h>

namespace quillinfo {

std::string JsonWriter::Quote(const std::string& value) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char ch : value) {
        const auto byte = static_cast<unsigned char>(ch);
        switch (byte) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (byte < 0x20 || byte >= 0x7F) {
                    out += "\\u00";
                    out += kHex[byte >> 4];
                    out += kHex[byte & 0xF];
                } else {
                    out += ch;
                }
        }
    }
    out += '"';
    return out;
}

void JsonWriter::NewLine() {
    m_out << '\n';
    for (size_t i = 0; i < m_levels.size(); ++i) m_out << "  ";
}

void JsonWriter::BeforeValue() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_levels.empty()) {
        if (!m_levels.back().empty) m_out << ',';
        m_levels.back().empty = false;
        NewLine();
    }
}

void JsonWriter::Key(const std::string& key) {
    if (!m_levels.back().empty) m_out << ',';
    m_levels.back().empty = false;
    NewLine();
    m_out << Quote(key) << ": ";
    m_afterKey = true;
}

void JsonWriter::BeginObject() {
    BeforeValue();
    m_out << '{';
    m_levels.push_back({true, true});
}

void JsonWriter::BeginArray() {
    BeforeValue();
    m_out << '[';
    m_levels.push_back({false, true});
}

void JsonWriter::EndObject() {
    const bool empty = m_levels.back().empty;
    m_levels.pop_back();
    if (!empty) NewLine();
    m_out << '}';
    if (m_levels.empty()) m_out << '\n';
}

void JsonWriter::EndArray() {
    const bool empty = m_levels.back().empty;
    m_levels.pop_back();
    if (!empty) NewLine();
    m_out << ']';
}

void JsonWriter::String(const std::string& value) {
    BeforeValue();
    m_out << Quote(value);
}

void JsonWriter::Number(uint64_t value) {
    BeforeValue();
    m_out << value;
}

void JsonWriter::Number(int64_t value) {
    BeforeValue();
    m_out << value;
}

void JsonWriter::Bool(bool value) {
    BeforeValue();
    m_out << (value ? "true" : "false");
}

void JsonWriter::Null() {
    BeforeValue();
    m_out << "null";
}

namespace {

void OptionalNumber(JsonWriter& json, const char* key, const std::optional<uint32_t>& value) {
    json.Key(key);
    if (value)
        json.Number(uint64_t{*value});
    else
        json.Null();
}

// Group and index in group: null when the library does not know them.
void IdOrNull(JsonWriter& json, const char* key, uint32_t value) {
    json.Key(key);
    if (value == 0xFFFFFFFFu)
        json.Null();
    else
        json.Number(uint64_t{value});
}

void WriteCache(JsonWriter& json, const CacheSnapshot& c) {
    json.BeginObject();
    json.Field("role", RoleName(c.role));
    json.Field("level", uint64_t{c.level});
    json.Field("type", TypeName(c.type));
    // 4294967295 stands for fully associative, 0 for not known.
    json.Field("associativity", uint64_t{c.associativity});
    json.Field("entryType", EntryTypeName(c.entryType));
    json.Field("entrySize", uint64_t{c.entrySize});
    json.Field("numEntries", uint64_t{c.numEntries});
    json.Field("size", c.size);
    json.Field("numSharing", uint64_t{c.numSharing});
    json.Field("isShared", c.isShared);
    IdOrNull(json, "groupId", c.groupId);
    IdOrNull(json, "indexInGroup", c.indexInGroup);
    json.Key("sharingIds");
    json.BeginArray();
    for (const uint16_t id : c.sharingIds) json.Number(uint64_t{id});
    json.EndArray();
    json.EndObject();
}

void WriteProcessor(JsonWriter& json, const ProcessorSnapshot& p) {
    json.BeginObject();
    json.Field("logicalIndex", uint64_t{p.logicalIndex});
    json.Field("vendorString", p.vendorString);
    json.Field("vendorId", uint64_t{p.vendorId});
    json.Field("name", p.name);
    OptionalNumber(json, "family", p.family);
    OptionalNumber(json, "model", p.model);
    OptionalNumber(json, "stepping", p.stepping);
    json.Field("apicId", uint64_t{p.apicId});
    json.Field("initialApicId", uint64_t{p.initialApicId});
    json.Field("smtId", uint64_t{p.smtId});
    json.Field("coreId", uint64_t{p.coreId});
    json.Field("packageId", uint64_t{p.packageId});
    json.Field("maxLogicalPerPackage", uint64_t{p.maxLogicalPerPackage});
    json.Field("coresPerPackage", uint64_t{p.coresPerPackage});
    json.Field("threadsPerCore", uint64_t{p.threadsPerCore});
    json.Key("features");
    json.BeginArray();
    for (const std::string& name : FeatureNames(p.featureBits)) json.String(name);
    json.EndArray();
    json.Field("featureBits", p.featureBits);
    json.Key("caches");
    json.BeginArray();
    for (const CacheSnapshot& c : p.caches) WriteCache(json, c);
    json.EndArray();
    json.Key("hypervisor");
    if (!p.hypervisor) {
        json.Null();
    } else {
        const HypervisorSnapshot& h = *p.hypervisor;
        json.BeginObject();
        json.Field("vendorId", uint64_t{h.vendorId});
        json.Field("vendor", h.vendor);
        json.Field("major", uint64_t{h.major});
        json.Field("minor", uint64_t{h.minor});
        json.Field("signature", h.signature);
        json.EndObject();
    }
    json.EndObject();
}

// {"1": .., "2": .., "3": ..}
template <typename T>
void PerLevel(JsonWriter& json, const char* key, const T (&values)[4]) {
    json.Key(key);
    json.BeginObject();
    for (int level = 1; level <= 3; ++level) {
        json.Field(std::to_string(level), uint64_t{values[level]});
    }
    json.EndObject();
}

}  // namespace

void WriteJson(const MachineSnapshot& s, std::ostream& out) {
    JsonWriter json(out);
    json.BeginObject();
    json.Field("numLogicalProcessors", uint64_t{s.numLogicalProcessors});
    json.Field("numLogicalProcessorsInProcess", uint64_t{s.numLogicalProcessorsInProcess});
    json.Field("numPackages", uint64_t{s.numPackages});
    // The masks are 64-bit: plain decimal integers (see --help).
    json.Field("activeProcessorMask", s.activeProcessorMask);
    json.Field("processProcessorMask", s.processProcessorMask);
    json.Field("isSymmetric", s.isSymmetric);

    json.Key("exports");
    json.BeginObject();
    json.Field("NumPackages", uint64_t{s.exports.numPackages});
    json.Field("MaxCoresPerPackage", uint64_t{s.exports.maxCoresPerPackage});
    json.Field("HyperThreaded", s.exports.hyperThreaded);
    json.Field("LogicalProcessorsPerCore", uint64_t{s.exports.logicalProcessorsPerCore});
    PerLevel(json, "DataCacheSize", s.exports.dataCacheSize);
    PerLevel(json, "DataCacheEntrySize", s.exports.dataCacheEntrySize);
    PerLevel(json, "DataCacheEntryType", s.exports.dataCacheEntryType);
    json.EndObject();

    json.Key("processors");
    json.BeginArray();
    for (const ProcessorSnapshot& p : s.processors) WriteProcessor(json, p);
    json.EndArray();

    json.Key("reports");
    json.BeginArray();
    for (const ReportSnapshot& r : s.reports) {
        json.BeginObject();
        json.Field("severity", int64_t{r.severity});
        json.Field("file", r.file);
        json.Field("line", int64_t{r.line});
        json.Field("message", r.message);
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}

}  // namespace quillinfo
