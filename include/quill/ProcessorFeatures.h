// The feature set of one logical processor: a 64-bit word, bits 0..47 named.
#ifndef QUILL_PROCESSORFEATURES_H
#define QUILL_PROCESSORFEATURES_H

#include <quill/QuillTypes.h>

#include <cstdint>

class ProcessorFeatures {
public:
    constexpr ProcessorFeatures() : m_bits(0) {}
    constexpr explicit ProcessorFeatures(uint64_t bits) : m_bits(bits) {}

    constexpr uint64_t Bits() const { return m_bits; }

    constexpr ProcessorFeatures operator|(ProcessorFeatures other) const {
        return ProcessorFeatures(m_bits | other.m_bits);
    }
    constexpr ProcessorFeatures operator&(ProcessorFeatures other) const {
        return ProcessorFeatures(m_bits & other.m_bits);
    }
    constexpr ProcessorFeatures operator~() const { return ProcessorFeatures(~m_bits); }
    ProcessorFeatures& operator|=(ProcessorFeatures other) {
        m_bits |= other.m_bits;
        return *this;
    }
    ProcessorFeatures& operator&=(ProcessorFeatures other) {
        m_bits &= other.m_bits;
        return *this;
    }
    constexpr explicit operator bool() const { return m_bits != 0; }
    constexpr bool operator==(ProcessorFeatures other) const { return m_bits == other.m_bits; }
    constexpr bool operator!=(ProcessorFeatures other) const { return m_bits != other.m_bits; }

    // True when every feature of `features` is present.
    constexpr bool Has(ProcessorFeatures features) const {
        return features.m_bits != 0 && (m_bits & features.m_bits) == features.m_bits;
    }

private:
    uint64_t m_bits;
};

// Named one-bit constants. Names that are not identifiers take a legal form
// (SSE4_1 for "SSE4.1", _3DNow for "3DNow", _6x86MX for "6x86MX").
namespace Feature {
#define QUILL_FEATURE(name, bit) constexpr ProcessorFeatures name(uint64_t(1) << (bit))
QUILL_FEATURE(FPU, kFeatureBitFPU);
QUILL_FEATURE(RDTSC, kFeatureBitRDTSC);
QUILL_FEATURE(RDTSCP, kFeatureBitRDTSCP);
QUILL_FEATURE(MSR, kFeatureBitMSR);
QUILL_FEATURE(VarSpeedCPU, kFeatureBitVarSpeedCPU);
QUILL_FEATURE(MMX, kFeatureBitMMX);
QUILL_FEATURE(MMXX, kFeatureBitMMXX);
QUILL_FEATURE(_6x86MX, kFeatureBit6x86MX);
QUILL_FEATURE(FXSR, kFeatureBitFXSR);
QUILL_FEATURE(CX8, kFeatureBitCX8);
QUILL_FEATURE(CX16, kFeatureBitCX16);
QUILL_FEATURE(MT, kFeatureBitMT);
QUILL_FEATURE(HT, kFeatureBitHT);
QUILL_FEATURE(MC, kFeatureBitMC);
QUILL_FEATURE(x64, kFeatureBitx64);
QUILL_FEATURE(IA64, kFeatureBitIA64);
QUILL_FEATURE(DCA, kFeatureBitDCA);
QUILL_FEATURE(PSE, kFeatureBitPSE);
QUILL_FEATURE(PSE36, kFeatureBitPSE36);
QUILL_FEATURE(PAE, kFeatureBitPAE);
QUILL_FEATURE(PGE, kFeatureBitPGE);
QUILL_FEATURE(MTRR, kFeatureBitMTRR);
QUILL_FEATURE(PAT, kFeatureBitPAT);
QUILL_FEATURE(SEP, kFeatureBitSEP);
QUILL_FEATURE(Syscall, kFeatureBitSyscall);
QUILL_FEATURE(CMOV, kFeatureBitCMOV);
QUILL_FEATURE(ACPI, kFeatureBitACPI);
QUILL_FEATURE(TM, kFeatureBitTM);
QUILL_FEATURE(TM2, kFeatureBitTM2);
QUILL_FEATURE(MONITOR, kFeatureBitMONITOR);
QUILL_FEATURE(XD, kFeatureBitXD);
QUILL_FEATURE(SSE, kFeatureBitSSE);
QUILL_FEATURE(SSE2, kFeatureBitSSE2);
QUILL_FEATURE(SSE3, kFeatureBitSSE3);
QUILL_FEATURE(SSSE3, kFeatureBitSSSE3);
QUILL_FEATURE(SSE4_1, kFeatureBitSSE4_1);
QUILL_FEATURE(SSE4_2, kFeatureBitSSE4_2);
QUILL_FEATURE(SSE4A, kFeatureBitSSE4A);
QUILL_FEATURE(SSE5, kFeatureBitSSE5);
QUILL_FEATURE(MA_SSE, kFeatureBitMA_SSE);
QUILL_FEATURE(_3DNow, kFeatureBit3DNow);
QUILL_FEATURE(_3DNowExt, kFeatureBit3DNowExt);
QUILL_FEATURE(_3DNowPF, kFeatureBit3DNowPF);
QUILL_FEATURE(AVX, kFeatureBitAVX);
QUILL_FEATURE(Hypervisor, kFeatureBitHypervisor);
QUILL_FEATURE(VMX, kFeatureBitVMX);
QUILL_FEATURE(SVM, kFeatureBitSVM);
QUILL_FEATURE(VLX, kFeatureBitVLX);
#undef QUILL_FEATURE
constexpr ProcessorFeatures None;
}  // namespace Feature

// The 48 feature names, indexed by bit number.
inline constexpr const char* kProcessorFeatureNames[kNumFeatureBits] = {
    "FPU",     "RDTSC",    "RDTSCP",  "MSR",     "VarSpeedCPU", "MMX",      "MMXX",    "6x86MX",
    "FXSR",    "CX8",      "CX16",    "MT",      "HT",          "MC",       "x64",     "IA64",
    "DCA",     "PSE",      "PSE36",   "PAE",     "PGE",         "MTRR",     "PAT",     "SEP",
    "Syscall", "CMOV",     "ACPI",    "TM",      "TM2",         "MONITOR",  "XD",      "SSE",
    "SSE2",    "SSE3",     "SSSE3",   "SSE4.1",  "SSE4.2",      "SSE4A",    "SSE5",    "MA_SSE",
    "3DNow",   "3DNowExt", "3DNowPF", "AVX",     "Hypervisor",  "VMX",      "SVM",     "VLX"};

// Name of a feature bit, or null for a bit without a name (48 and above).
inline const char* ProcessorFeatureName(unsigned bit) {
    return bit < kNumFeatureBits ? kProcessorFeatureNames[bit] : nullptr;
}

#endif
