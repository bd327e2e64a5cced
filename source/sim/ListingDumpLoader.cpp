#include "ListingDumpLoader.h"

#include "AidaDumpLoader.h"
#include "CpuidRDumpLoader.h"
#include "LineReader.h"

#include <quill/QuillSim.h>

#include <string>
#include <utility>

namespace sim {

void ListingDumpLoader::EndProcessor() {
    if (m_current.Empty()) {
        return;
    }
    if (m_done.size() < QUILL_SIM_MAX_PROCESSORS) {
        m_done.push_back(std::move(m_current));
    }
    m_current = CPUIDTable();
    m_untaggedCount.clear();
}

bool ListingDumpLoader::Parse(std::string_view text, std::vector<CPUIDTable>& processors, DumpProblem& problem) {
    m_done.clear();
    m_current = CPUIDTable();
    m_untaggedCount.clear();

    LineReader reader(text);
    std::string_view line;
    while (reader.Next(line)) {
        std::string reason;
        const AidaDumpLoader::LineKind aida = AidaDumpLoader::Classify(line);
        if (aida == AidaDumpLoader::LineKind::Heading || CpuidRDumpLoader::IsHeader(line)) {
            EndProcessor();
        } else if (aida == AidaDumpLoader::LineKind::Data) {
            AidaDumpLoader::DataLine data;
            if (!AidaDumpLoader::ParseData(line, data, reason)) {
                return problem.Set(reader.LineNumber(), reason);
            }
            if (data.leaf == 0) {
                EndProcessor();
            }
            const uint32_t subleaf = data.hasSubleaf ? data.subleaf : m_untaggedCount[data.leaf]++;
            m_current.Add(data.leaf, subleaf, data.regs);
        } else if (CpuidRDumpLoader::LooksLikeData(line)) {
            uint32_t leaf = 0;
            uint32_t subleaf = 0;
            CPUIDRegs regs;
            if (!CpuidRDumpLoader::ParseData(line, leaf, subleaf, regs, reason)) {
                return problem.Set(reader.LineNumber(), reason);
            }
            m_current.Add(leaf, subleaf, regs);
        }
    }
    EndProcessor();

    if (m_done.empty()) {
        return problem.Set(0, "no CPUID data lines");
    }
    processors = std::move(m_done);
    m_done.clear();
    return true;
}

}  // namespace sim
