#include "settings/Xml.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "settings/Number.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

// Only ASCII letters change, so names upper-case the same whatever the user's locale.
std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

bool IsSkippedSpace(char c) {
    const auto b = static_cast<unsigned char>(c);
    return b == ' ' || b == '\t' || b == '\n' || b == '\r' || b == 0xFF || b == 0xFE;
}

std::string_view TrimControl(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
    return text;
}

// Whether characters trimmed off an end of a text run were part of the text as written rather
// than the line break and indentation a save puts around a value.
bool WrittenTextCut(std::string_view cut) {
    if (cut.empty()) return false;
    bool lineBreak = false;
    for (const char c : cut) {
        if (c == '\n') {
            lineBreak = true;
        } else if (c != '\r' && c != '\t' && c != ' ') {
            return true;
        }
    }
    return !lineBreak;
}

void AppendEscaped(std::string& out, std::string_view value) {
    for (char c : value) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
}

// Turns back exactly the three entities the writer produces; any other "&" stays as it is.
std::string Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '&') {
            const std::string_view rest = text.substr(i);
            if (rest.starts_with("&amp;")) {
                out += '&';
                i += 4;
                continue;
            }
            if (rest.starts_with("&lt;")) {
                out += '<';
                i += 3;
                continue;
            }
            if (rest.starts_with("&gt;")) {
                out += '>';
                i += 3;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

struct PathPart {
    std::string_view name;
    int index = 0;
    std::string_view rest;
};

// Splits off the first component of an already upper-cased path; count is the number of
// existing same-named children, which LAST and NEXT refer to. The name keeps the text
// around a bracketed selector, so it may need joining; scratch holds it then.
PathPart SplitPath(std::string_view upper, int count, std::string& scratch) {
    PathPart part;
    const std::size_t dot = upper.find('.');
    const std::string_view component = upper.substr(0, dot);
    if (dot != npos) part.rest = upper.substr(dot + 1);
    part.name = component;
    const std::size_t open = component.find('[');
    const std::size_t close = component.find(']');
    if (open != npos && close != npos && open < close) {
        const std::string_view selector = component.substr(open + 1, close - open - 1);
        if (selector == "LAST")
            part.index = count - 1;
        else if (selector == "NEXT")
            part.index = count;
        else
            part.index = ReadLeadingInt(selector);
        scratch.assign(component.substr(0, open));
        scratch.append(component.substr(close + 1));
        part.name = scratch;
    }
    return part;
}

int CountNamed(const CXML& node, std::string_view name) {
    int count = 0;
    for (const auto& child : node.Children)
        if (child->Name == name) ++count;
    return count;
}

struct Tag {
    std::string name;
    std::string_view attributes;
    bool end = false;
    bool selfClosing = false;
    std::size_t next = 0;  // position right after the tag
};

// Reads the tag starting at src[pos] == '<'. 1 on success, -1 for a '<' inside the tag,
// 0 when the tag has no '>'.
int ReadTag(std::string_view src, std::size_t pos, Tag& tag) {
    const std::size_t gt = src.find('>', pos);
    const std::size_t stop = gt == npos ? src.size() : gt;
    const std::size_t inner = src.find('<', pos + 1);
    if (inner != npos && inner < stop) return -1;
    if (gt == npos) return 0;
    const std::string_view text = src.substr(pos, gt - pos + 1);
    tag.end = text.size() > 1 && text[1] == '/';
    const std::size_t nameStart = tag.end ? 2 : 1;
    const std::size_t space = text.find(' ');
    const std::size_t nameEnd = space == npos ? text.size() - 1 : space;
    const std::size_t slash = text.find('/');
    tag.selfClosing = slash != npos && slash + 1 == nameEnd;
    std::size_t nameStop = nameEnd;
    if (tag.selfClosing && slash >= nameStart) nameStop = slash;
    tag.name = nameStop > nameStart ? Upper(text.substr(nameStart, nameStop - nameStart)) : "";
    tag.attributes =
        space == npos ? std::string_view{} : text.substr(space, text.size() - 1 - space);
    tag.next = gt + 1;
    return 1;
}

std::size_t SkipSpace(std::string_view src, std::size_t pos) {
    while (pos < src.size() && IsSkippedSpace(src[pos])) ++pos;
    return pos;
}

std::size_t NextTagStart(std::string_view src, std::size_t pos) {
    const std::size_t lt = src.find('<', pos);
    return lt == npos ? src.size() : lt;
}

// Moves pos past the end tag matching the start tag of the given name just read.
int SkipElement(std::string_view src, std::size_t& pos, const std::string& name) {
    int depth = 1;
    for (;;) {
        pos = SkipSpace(src, pos);
        if (pos >= src.size()) return 0;
        if (src[pos] != '<') {
            pos = NextTagStart(src, pos);
            continue;
        }
        Tag tag;
        const int r = ReadTag(src, pos, tag);
        if (r <= 0) return r;
        pos = tag.next;
        if (!tag.selfClosing && tag.name == name) {
            depth += tag.end ? -1 : 1;
            if (depth == 0) return 1;
        }
    }
}

// Parses one element from src into node. The 0-based end of the element on success,
// otherwise 0 or -1 as Parse reports them. Content dropped below the depth bound sets
// truncated, so that the document as a whole is not reported as read in full.
long ParseElement(CXML& node, std::string_view src, int depth, bool& truncated) {
    node.Clear();
    std::size_t pos = SkipSpace(src, 0);
    if (pos >= src.size() || src[pos] != '<') return 0;
    Tag tag;
    const int r = ReadTag(src, pos, tag);
    if (r <= 0) return r;
    node.Name = tag.name;
    node.Attributes = std::string(tag.attributes);
    if (tag.end) return -1;
    pos = tag.next;
    if (tag.selfClosing) return static_cast<long>(pos);
    if (depth > CXML::kMaxDepth) {
        truncated = true;
        return -1;
    }
    for (;;) {
        pos = SkipSpace(src, pos);
        if (pos >= src.size()) return 0;
        if (src[pos] == '<') {
            const std::size_t childStart = pos;
            Tag child;
            const int rc = ReadTag(src, pos, child);
            if (rc <= 0) return rc;
            pos = child.next;
            if (child.end) {
                if (child.name == node.Name) return static_cast<long>(pos);
                return -1;
            }
            if (!child.selfClosing) {
                const int rs = SkipElement(src, pos, child.name);
                if (rs <= 0) return rs;
            }
            auto element = std::make_unique<CXML>();
            // A broken child keeps what it built; the parent carries on after it.
            ParseElement(*element, src.substr(childStart, pos - childStart), depth + 1, truncated);
            node.Children.push_back(std::move(element));
        } else {
            const std::size_t end = NextTagStart(src, pos);
            const std::string_view raw = src.substr(pos, end - pos);
            const std::string_view run = TrimControl(raw);
            pos = end;
            if (run.empty()) {
                node.TextCut = node.TextCut || WrittenTextCut(raw);
                continue;
            }
            const auto head = static_cast<std::size_t>(run.data() - raw.data());
            node.TextCut = node.TextCut || WrittenTextCut(raw.substr(0, head)) ||
                           WrittenTextCut(raw.substr(head + run.size()));
            if (!node.Value.empty()) node.Value += '\n';
            node.Value += Unescape(run);
        }
    }
}

int WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return -1;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

std::string FolderOf(const std::string& fileName) {
    const std::size_t slash = fileName.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return fileName.substr(0, slash);
}

// The file a path names once symbolic links are followed, so that a save replaces the link's
// target and keeps the link; a link whose target does not exist yet names that target. Empty
// for a loop of links.
std::string FollowLinks(std::string path) {
    constexpr int kMaxLinks = 40;
    for (int hops = 0; hops < kMaxLinks; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        std::string target(4096, '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return path;
        target.resize(static_cast<std::size_t>(n));
        path = target.front() == '/' ? target : FolderOf(path) + "/" + target;
    }
    return {};
}

}  // namespace

CXML::~CXML() {
    // Released without recursion, so that no depth of tree can exhaust the stack.
    std::vector<std::unique_ptr<CXML>> pending = std::move(Children);
    while (!pending.empty()) {
        std::unique_ptr<CXML> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->Children) pending.push_back(std::move(child));
        node->Children.clear();
    }
}

void CXML::Clear() {
    Name.clear();
    Value.clear();
    Attributes.clear();
    TextCut = false;
    std::vector<std::unique_ptr<CXML>> old = std::move(Children);
    Children.clear();
}

CXML* CXML::FindNode(std::string_view path, bool create) {
    const std::string upper = Upper(path);
    std::string_view remaining = upper;
    std::string scratch;
    CXML* node = this;
    for (;;) {
        const PathPart part = SplitPath(remaining, 0, scratch);
        if (node->Name.empty()) {
            if (!create) return nullptr;
            node->Name = std::string(part.name);
        } else if (node->Name != part.name) {
            return nullptr;
        }
        if (part.rest.empty()) return node;

        const int count = CountNamed(*node, part.rest.substr(0, part.rest.find_first_of(".[")));
        const PathPart childPart = SplitPath(part.rest, count, scratch);
        CXML* match = nullptr;
        if (childPart.index >= 0) {
            int seen = 0;
            for (const auto& child : node->Children) {
                if (child->Name != childPart.name) continue;
                if (seen++ == childPart.index) {
                    match = child.get();
                    break;
                }
            }
        }
        if (!match) {
            if (!create) return nullptr;
            node->Children.push_back(std::make_unique<CXML>());
            match = node->Children.back().get();
        }
        node = match;
        remaining = part.rest;
    }
}

const CXML* CXML::FindNode(std::string_view path) const {
    // Without creating, the search changes nothing.
    return const_cast<CXML*>(this)->FindNode(path, false);
}

bool CXML::Exists(std::string_view path) const {
    return FindNode(path) != nullptr;
}

std::string CXML::GetValue(std::string_view path) const {
    const CXML* node = FindNode(path);
    return node ? node->Value : std::string();
}

bool CXML::SetValue(std::string_view path, std::string_view value, std::string_view attributes) {
    CXML* node = FindNode(path, true);
    if (!node) return false;
    node->Value = std::string(value);
    node->Attributes = std::string(attributes);
    return true;
}

bool CXML::SetIntValue(std::string_view path, std::int32_t value) {
    return SetValue(path, std::to_string(value), {});
}

int CXML::CountNodes(std::string_view path) const {
    const std::size_t dot = path.rfind('.');
    const CXML* parent = this;
    std::string_view last = path;
    if (dot != npos) {
        parent = FindNode(path.substr(0, dot));
        last = path.substr(dot + 1);
    }
    if (!parent) return 0;
    const std::string upper = Upper(last);
    std::string scratch;
    return CountNamed(*parent, SplitPath(upper, 0, scratch).name);
}

int CXML::Parse() {
    bool truncated = false;
    const long end = ParseElement(*this, Text, 0, truncated);
    if (truncated) return -1;
    return end > 0 ? static_cast<int>(end + 1) : static_cast<int>(end);
}

void CXML::Serialize(int depth) {
    struct Item {
        const CXML* node;
        int depth;
        bool closing;
    };
    std::string out;
    std::vector<Item> stack{{this, depth, false}};
    while (!stack.empty()) {
        const Item item = stack.back();
        stack.pop_back();
        const CXML& n = *item.node;
        out.append(static_cast<std::size_t>(item.depth > 0 ? item.depth : 0), '\t');
        if (item.closing) {
            out += "</" + n.Name + ">\r\n";
            continue;
        }
        const std::string attributes = n.Attributes.empty() ? "" : " " + n.Attributes;
        if (n.Value.empty() && n.Children.empty()) {
            out += "<" + n.Name + "/" + attributes + ">\r\n";
            continue;
        }
        out += "<" + n.Name + attributes + ">\r\n";
        if (!n.Value.empty()) {
            out.append(static_cast<std::size_t>(item.depth + 1 > 0 ? item.depth + 1 : 0), '\t');
            AppendEscaped(out, n.Value);
            out += "\r\n";
        }
        stack.push_back({item.node, item.depth, true});
        for (auto it = n.Children.rbegin(); it != n.Children.rend(); ++it)
            stack.push_back({it->get(), item.depth + 1, false});
    }
    Text = std::move(out);
}

int CXML::LoadFromText(std::string text) {
    const std::size_t zero = text.find('\0');
    if (zero != std::string::npos) text.resize(zero);
    Text = std::move(text);
    // A UTF-16 file would otherwise read as garbage 8-bit text; refuse it cleanly.
    if (Text.size() >= 2 && static_cast<unsigned char>(Text[0]) == 0xFF &&
        static_cast<unsigned char>(Text[1]) == 0xFE) {
        Clear();
        Text.clear();
        return kParseFailed;
    }
    return Parse() > 0 ? kOk : kParseFailed;
}

int CXML::LoadFromFile(const std::string& fileName) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer before the check below can refuse
    // it; for a regular file the flag changes nothing.
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return kCannotOpen;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return kCannotOpen;
    }
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size > kMaxFileSize) {
        ::close(fd);
        return kShortTransfer;
    }
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::string bytes(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(fd, bytes.data() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (got < size) {
        bytes.resize(got);
        const std::size_t zero = bytes.find('\0');
        if (zero != std::string::npos) bytes.resize(zero);
        Text = std::move(bytes);
        return kShortTransfer;
    }
    return LoadFromText(std::move(bytes));
}

int CXML::SaveToFile(const std::string& name) {
    Serialize(0);
    // A file LoadFromFile would refuse must not replace one it can read.
    if (Text.size() > kMaxFileSize) return kTooLarge;
    // A linked file is replaced where it lies, and the link stays.
    const std::string fileName = FollowLinks(name);
    if (fileName.empty()) return kCannotOpen;
    // Only a regular file is replaced: a FIFO, device or folder of that name is not ours.
    struct stat target {};
    if (::stat(fileName.c_str(), &target) == 0 && !S_ISREG(target.st_mode)) return kCannotOpen;
    const std::string temporary = fileName + ".tmp";
    // A leftover of an interrupted save goes first; creating exclusively then never opens
    // (and never blocks on) a FIFO or a link that someone put there.
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return kCannotOpen;
    bool written = WriteAll(fd, Text) == 0;
    // The bytes must be on disk before the rename makes them the file.
    written = ::fsync(fd) == 0 && written;
    written = ::close(fd) == 0 && written;
    if (!written) {
        ::unlink(temporary.c_str());
        return kShortTransfer;
    }
    if (::rename(temporary.c_str(), fileName.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return kCannotOpen;
    }
    const int folder = ::open(FolderOf(fileName).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return kOk;
}
