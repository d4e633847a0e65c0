// What the page's C++ keeps between the worker's calls, and how it hands its documents to the
// worker: the session that d88web_open makes (ImageListing.cpp) and that putting changed files
// back (ImageUpdate.cpp) reads, and the imports of listing-imports.js.
#pragma once

#include "DiskSet.h"
#include "ImageFacts.h"
#include "NoteText.h"
#include "Plan.h"
#include "PlanJson.h"

#include "D88Image.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
// A JSON document of `length` bytes of UTF-8: the listing of the files, or a layout's set.
void d88web_document(const char* json, int length);
// The pieces of every entry of the set sent next, `count` numbers: for each entry in order the
// number of its pieces, then file, offset and length of each. Numbers in an array cost far less
// than tens of thousands of JSON objects; the worker puts them back into the document. A piece
// of file -1 is `length` bytes of the inline bytes, from `offset`.
void d88web_pieces(const double* numbers, int count);
// The inline bytes of the set sent next: the sectors voted from several copies, which no given
// file holds as such, of every entry one after another.
void d88web_inline(const uint8_t* bytes, int length);
// The next `length` bytes of new file `part` of a putting back, in order.
void d88web_output(int part, const uint8_t* bytes, int length);
}

// Putting changed files back into a new image of the session's set (ImageUpdate.cpp): made by
// d88web_update_plan, dropped by d88web_update_close or with the session.
struct PageUpdate;
struct PageUpdateFree {
    void operator()(PageUpdate* update) const;
};

// What one pick of files is read as, from d88web_open to d88web_close: the page holds its handle.
struct PageSession {
    d88::D88Image image;
    WalkBuffers buffers;
    std::vector<IdRead> ids;
    DiskSetFacts set;
    DiskChoice disks;
    DirectoryRead directory;
    LayoutPlans plans;
    std::vector<std::string> paths; // the mounted files that the image is read from, in order
    ShownFiles names;               // their names, as the page shows them
    std::vector<FILE*> given;       // every mounted file given, open while the session lasts
    std::string zipName;            // "Download all"'s zip, without ".zip" (d88web_zip_name)
    std::unique_ptr<PageUpdate, PageUpdateFree> update;
    PageSession() = default;
    PageSession(const PageSession&) = delete;
    PageSession& operator=(const PageSession&) = delete;
    ~PageSession() {
        update.reset();
        image.close();
        for (FILE* file : given) {
            fclose(file);
        }
    }
};

inline void sendDocument(const nlohmann::ordered_json& document) {
    const std::string text = dumpJson(document);
    d88web_document(text.data(), static_cast<int>(text.size()));
}

// What `print` writes, without its last line feed.
template <typename Print> std::string printed(Print print) {
    char* buffer = nullptr;
    size_t length = 0;
    FILE* text = open_memstream(&buffer, &length);
    if (text == nullptr) {
        return std::string();
    }
    print(text);
    fclose(text);
    std::string result(buffer, length);
    free(buffer);
    if (!result.empty() && result.back() == '\n') {
        result.pop_back();
    }
    return result;
}

// The lines of `text`, without their line feeds.
inline nlohmann::ordered_json textLines(const std::string& text) {
    nlohmann::ordered_json lines = nlohmann::ordered_json::array();
    for (size_t start = 0; start < text.size();) {
        const size_t end = std::min(text.find('\n', start), text.size());
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The lines that `print` writes, without their line feeds.
template <typename Print> nlohmann::ordered_json printedLines(Print print) {
    return textLines(printed(print));
}

inline const DirectoryLayout* layoutByLetter(const char* letter) {
    for (const DirectoryLayout* layout : SET_LAYOUTS) {
        if (strcmp(layout->letter, letter) == 0) {
            return layout;
        }
    }
    return nullptr;
}

inline std::vector<const char*> pathList(const std::vector<std::string>& paths) {
    std::vector<const char*> list;
    for (const std::string& path : paths) {
        list.push_back(path.c_str());
    }
    return list;
}
