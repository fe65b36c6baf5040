#include "storelist.h"

#include "images.h"
#include "stores/indexdattext.h"

#include <fstream>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool unescape(const std::string &in, std::string &out, std::string &error)
{
    out.clear();
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (in[i] != '\\' || i + 1 == in.size()) {
            out += in[i];
            continue;
        }
        const char c = in[++i];
        switch (c) {
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case '\\':
            out += '\\';
            break;
        case 'x': {
            const int hi = i + 1 < in.size() ? hexValue(in[i + 1]) : -1;
            const int lo = i + 2 < in.size() ? hexValue(in[i + 2]) : -1;
            if (hi < 0 || lo < 0) {
                error = "\\x needs two hex digits";
                return false;
            }
            out += char(hi * 16 + lo);
            i += 2;
            break;
        }
        default:
            error = std::string("unknown escape \\") + c;
            return false;
        }
    }
    return true;
}

std::vector<std::string> splitTabs(const std::string &line)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        const auto tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

} // namespace

bool ReadStoreList(const std::string &path, std::vector<StoreWriterEntry> &entries, std::string &error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot be read";
        return false;
    }
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        const auto where = path + ":" + std::to_string(number) + ": ";
        const auto fields = splitTabs(line);
        if (fields.size() < 2 || fields.size() > 4 || fields[0].empty()) {
            error = where + "expected URL<TAB>extension or -[<TAB>content[<TAB>gbk]]";
            return false;
        }
        StoreWriterEntry entry;
        entry.url = fields[0];
        if (fields[1] != "-")
            entry.extension = fields[1];
        const std::string content = fields.size() > 2 ? fields[2] : std::string();
        if (content == "@gif")
            entry.content = TinyGif(unsigned(entries.size()));
        else if (content == "@jpeg")
            entry.content = TinyJpeg();
        else if (content == "@png")
            entry.content = TinyPng();
        else if (!unescape(content, entry.content, error)) {
            error = where + error;
            return false;
        }
        if (fields.size() > 3) {
            if (fields[3] != "gbk") {
                error = where + "the fourth field may only be \"gbk\"";
                return false;
            }
            bool ok = true;
            entry.content = indexdat::ToStoreBytes(entry.content, &ok);
            if (!ok) {
                error = where + "the content has characters without a GBK form";
                return false;
            }
        }
        entries.push_back(std::move(entry));
    }
    return true;
}
