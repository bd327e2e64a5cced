#include "SvgWriter.h"

#include "SvgDrawing.h"
#include "TextFormat.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace quillinfo {

void WriteSvg(const MachineSnapshot& snapshot, std::ostream& out) {
    if (snapshot.groups.size() <= 1) {
        SvgPicture(snapshot).Write(out);
        return;
    }
    // Every processor group, one picture below the other, each a nested
    // <svg class="group" data-group="n">.
    std::vector<std::unique_ptr<SvgPicture>> pictures;
    int width = 0, height = 0;
    for (const MachineSnapshot& group : snapshot.groups) {
        pictures.push_back(
            std::make_unique<SvgPicture>(group, "Processor group " + std::to_string(group.group) + ": "));
        width = std::max(width, pictures.back()->Width());
        height += pictures.back()->Height();
    }
    SvgPicture::WriteHeader(out, width, height);
    const std::string title = std::to_string(snapshot.groups.size()) + " processor groups, " +
                              Count(snapshot.numLogicalProcessorsAllGroups, "logical processor", "logical processors");
    out << "<title>" << SvgEscape(title) << "</title>\n";
    int y = 0;
    for (size_t i = 0; i < pictures.size(); ++i) {
        out << "<svg class=\"group\" data-group=\"" << snapshot.groups[i].group << "\" x=\"0\" y=\"" << y
            << "\" width=\"" << pictures[i]->Width() << "\" height=\"" << pictures[i]->Height() << "\">\n";
        pictures[i]->WriteBody(out);
        out << "</svg>\n";
        y += pictures[i]->Height();
    }
    out << "</svg>\n";
}

}  // namespace quillinfo
