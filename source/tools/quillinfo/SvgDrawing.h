// The drawing of the --svg picture (see SvgWriter.h) over its layout: title,
// packages, cores with their kind, logical processors, TLB lines, cache bars
// and the legend of the kinds of core.
#pragma once

#include "SvgLayout.h"

#include <ostream>
#include <string>

namespace quillinfo {

class SvgPicture {
public:
    // `titlePrefix` heads the title of a processor group's picture.
    explicit SvgPicture(const MachineSnapshot& s, std::string titlePrefix = "");

    int Width() const { return m_layout.Width(); }
    int Height() const { return m_layout.Height(); }

    // The document: the header, then the picture.
    void Write(std::ostream& out) const;
    static void WriteHeader(std::ostream& out, int width, int height);
    // Everything inside the document, from (0, 0).
    void WriteBody(std::ostream& out) const;

private:
    std::string Title() const;
    std::string Subtitle() const;
    void WritePackages(std::ostream& out) const;
    void WriteCore(std::ostream& out, const PackageView& package, const CoreView& core, const svg::Row& row) const;
    void WriteCaches(std::ostream& out) const;
    void WriteLegend(std::ostream& out) const;

    SvgLayout m_layout;
    std::string m_titlePrefix;
};

// Text made safe for the document.
std::string SvgEscape(const std::string& text);

}  // namespace quillinfo
