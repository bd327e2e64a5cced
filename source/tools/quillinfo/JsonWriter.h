// The --json output: one document with stable keys.
#pragma once

#include "Snapshot.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace quillinfo {

// A small streaming writer: values, objects and arrays, two-space indent.
class JsonWriter {
public:
    explicit JsonWriter(std::ostream& out) : m_out(out) {}

    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    // The key of the next value inside an object.
    void Key(const std::string& key);

    void String(const std::string& value);
    void Number(uint64_t value);
    void Number(int64_t value);
    void Bool(bool value);
    void Null();

    // A key and its value.
    template <typename Value>
    void Field(const std::string& key, Value value) {
        Key(key);
        Write(value);
    }


    // Any bytes as a JSON string: quotes, backslashes and control characters
    // escaped, and every byte outside printable ASCII written as \u00XX (read
    // as Latin-1), so the output is ASCII whatever the input.
    static std::string Quote(const std::string& value);

private:
    void Write(const std::string& value) { String(value); }
    void Write(const char* value) { String(value); }
    void Write(uint64_t value) { Number(value); }
    void Write(int64_t value) { Number(value); }
    void Write(bool value) { Bool(value); }

    void BeforeValue();
    void NewLine();

    struct Level {
        bool isObject;
        bool empty;
    };
    std::ostream& m_out;
    std::vector<Level> m_levels;
    bool m_afterKey = false;
};

// Writes the whole snapshot.
void WriteJson(const MachineSnapshot& snapshot, std::ostream& out);

}  // namespace quillinfo
