#pragma once
// PDF documents made at test time: well-formed ones written by qpdf, and hand-assembled ones for
// the structures qpdf would never write (lying /Count, loops, incremental updates).

#include <filesystem>
#include <map>
#include <string>

namespace pdffix {

struct Layout {
    bool objectStreams = false;  // object streams and a cross-reference stream
    bool linearize = false;
    bool encrypt = false;
    std::string userPassword{};
    std::string ownerPassword{};
};

// A document of `pages` pages, each with a tiny content stream, written by qpdf.
std::string qpdfDocument(int pages, const Layout& layout = {});

// The same document written again by qpdf with another layout.
std::string rewritten(const std::string& bytes, const Layout& layout);

// Objects numbered from 1 with a classic cross-reference table and a trailer naming `root`.
std::string rawDocument(const std::map<int, std::string>& objects, int root);

// One object of xrefStreamDocument: written in the file (stream 0) or inside object stream
// `stream`. An object stream that is itself placed inside another one is still written in the
// file, but the cross-reference stream sends readers to the other stream for it.
struct Placed {
    std::string text;
    int stream = 0;
};

// Objects numbered from 1, object streams made for every stream number used, and a
// cross-reference stream (uncompressed) naming `root`.
std::string xrefStreamDocument(const std::map<int, Placed>& objects, int root);

// Appends an incremental update (new or replaced objects, a new xref section, /Prev) to `base`,
// which must end in a classic table written by rawDocument.
std::string appendUpdate(const std::string& base, const std::map<int, std::string>& objects,
                         int root, int size);

// A three-page tree whose root /Count is the given text ("" leaves /Count out).
std::string threePagesWithCount(const std::string& count);

void writeFile(const std::filesystem::path& path, const std::string& bytes);
// Lines in a text file (0 when it is missing): how many helpers a start log names.
int linesIn(const std::filesystem::path& file);

// A fresh folder for one test, removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path file(const std::string& name) const { return m_path / name; }
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
};

}  // namespace pdffix
