#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One element of a settings document; the root node stands for the whole document.
// Nodes are addressed by dotted paths whose first component names the root, e.g.
// "values.value[2].color0.value"; a component may carry an index selector [n], [LAST]
// or [NEXT]. Paths and names are upper-cased, so they match without regard to case.
class CXML {
  public:
    // Result codes of LoadFromFile and SaveToFile.
    static constexpr int kOk = 0;
    static constexpr int kCannotOpen = -1;
    static constexpr int kShortTransfer = -100;
    static constexpr int kParseFailed = -101;
    // SaveToFile: the text would be larger than kMaxFileSize; nothing was written.
    static constexpr int kTooLarge = -102;

    // Elements nested deeper than this below the root are kept by name only, without
    // content, and the parse counts as failed; settings files nest four levels at most.
    // Each level rescans the text of its children, so this bound, with the file size
    // bound, also bounds the work.
    static constexpr int kMaxDepth = 32;
    // Options are a few kilobytes and a preset takes about one in values.xml, so this holds
    // some thirty thousand presets; anything larger is neither read (kShortTransfer, node
    // unchanged) nor written (kTooLarge, old file kept).
    static constexpr std::size_t kMaxFileSize = std::size_t{32} << 20;

    CXML() = default;
    virtual ~CXML();
    CXML(const CXML&) = delete;
    CXML& operator=(const CXML&) = delete;

    // Working buffer: the loaded file for the root, or the text of the last Serialize.
    std::string Text;
    // Character content: the element's trimmed text runs joined by LF, unescaped.
    std::string Value;
    // Element name, upper case.
    std::string Name;
    // Raw rest of the start tag after the name, kept verbatim (with its leading space).
    std::string Attributes;
    std::vector<std::unique_ptr<CXML>> Children;
    // Set by Parse when the text as written began or ended with blanks or control characters
    // other than the line breaks and indentation a save puts around a value: Value lacks them.
    bool TextCut = false;

    // Empties name, value and attributes and releases all children.
    void Clear();
    // The node at the path or nullptr; with create, missing nodes on the way are appended
    // (an index beyond the existing ones appends exactly one node).
    CXML* FindNode(std::string_view path, bool create);
    const CXML* FindNode(std::string_view path) const;
    bool Exists(std::string_view path) const;
    // Value of the node at the path; empty when there is none.
    std::string GetValue(std::string_view path) const;
    // False when the path's first component does not match the root's name.
    bool SetValue(std::string_view path, std::string_view value, std::string_view attributes = {});
    bool SetIntValue(std::string_view path, std::int32_t value);
    // Children bearing the last component's name under the node the rest of the path
    // addresses; 0 when that node does not exist.
    int CountNodes(std::string_view path) const;

    // Builds the tree from Text. Positive (the 1-based position after the root element)
    // on success; 0 for empty, unfinished or non-tag text; -1 for a malformed tag or a
    // mismatched end tag or content nested beyond kMaxDepth. A child whose content is
    // broken keeps what was built before.
    int Parse();
    // Replaces Text with this element and its subtree: TAB indentation from the given
    // depth, CR LF line ends, "&", "<" and ">" in values written as entities.
    void Serialize(int depth);

    // Takes the text of a whole file (cut at its first zero byte) and parses it:
    // kOk or kParseFailed. Text starting with a UTF-16 byte-order mark is refused.
    int LoadFromText(std::string text);
    // kOk, kCannotOpen (node unchanged), kShortTransfer or kParseFailed.
    int LoadFromFile(const std::string& fileName);
    // Writes a temporary file next to the target and renames it over the target, so the
    // old file stays whole on any failure. kOk, kCannotOpen, kShortTransfer or kTooLarge. A
    // symbolic link is followed: its target is replaced and the link stays.
    int SaveToFile(const std::string& fileName);
};
