#include "web/WebElementMatching.h"

#include <litehtml/el_anchor.h>
#include <litehtml/el_base.h>
#include <litehtml/el_body.h>
#include <litehtml/el_break.h>
#include <litehtml/el_div.h>
#include <litehtml/el_font.h>
#include <litehtml/el_image.h>
#include <litehtml/el_link.h>
#include <litehtml/el_para.h>
#include <litehtml/el_table.h>
#include <litehtml/el_td.h>
#include <litehtml/el_title.h>
#include <litehtml/el_tr.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "web/WebEngineAccess.h"

namespace detail {

namespace {

// A filtered sheet must hold the very rule objects of the full one: their order numbers rank
// the cascade, and the engine's own adder renumbers what it adds. The engine keeps the rule list
// private; an explicit instantiation may name it.
struct CssSelectorsTag {
    using type = litehtml::css_selector::vector litehtml::css::*;
    friend type member(CssSelectorsTag);
};
template struct ExposeMember<CssSelectorsTag, &litehtml::css::m_selectors>;

litehtml::css_selector::vector& rulesOf(litehtml::css& sheet) {
    return sheet.*member(CssSelectorsTag{});
}

// How many properties a style holds: what styling stores in an element is counted by them.
struct StylePropertiesTag {
    using type = litehtml::props_map litehtml::style::*;
    friend type member(StylePropertiesTag);
};
template struct ExposeMember<StylePropertiesTag, &litehtml::style::m_properties>;

std::size_t propertiesOf(const litehtml::style& style) {
    return (style.*member(StylePropertiesTag{})).size();
}

// Generated content is the engine's own element; what rules store in it is counted from outside.
struct TagStyleTag {
    using type = litehtml::style litehtml::html_tag::*;
    friend type member(TagStyleTag);
};
template struct ExposeMember<TagStyleTag, &litehtml::html_tag::m_style>;

std::size_t propertiesOf(const litehtml::element& el) {
    const auto* tag = dynamic_cast<const litehtml::html_tag*>(&el);
    return tag ? propertiesOf(tag->*member(TagStyleTag{})) : 0;
}

std::string key(char kind, std::string_view text) {
    std::string k(1, kind);
    k.reserve(text.size() + 1);
    for (char c : text) k.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
    return k;
}

// The one key an element must carry to match a compound, or empty for none. Keys are
// lowercased on both sides, so an index lookup only ever finds more candidates, never fewer.
std::string compoundKey(const litehtml::css_element_selector& compound) {
    for (const auto& a : compound.m_attrs)
        if (a.condition == litehtml::select_equal && a.attribute == "id" && !a.val.empty())
            return key('#', a.val);
    for (const auto& a : compound.m_attrs)
        if (a.condition == litehtml::select_equal && a.attribute == "class" && !a.class_val.empty() &&
            !a.class_val.front().empty())
            return key('.', a.class_val.front());
    if (!compound.m_tag.empty() && compound.m_tag != "*") return key('t', compound.m_tag);
    return {};
}

// A compound left of a descendant or child combinator is an ancestor of the subject (that of a
// sibling combinator is a sibling of the subject or of one of its ancestors, whose own
// ancestors are the subject's). Ids and classes are rarer than tags, so they are preferred.
std::string ancestorKey(const litehtml::css_selector& rule) {
    std::string best;
    int bestRank = 0;
    for (const litehtml::css_selector* s = &rule; s->m_left; s = s->m_left.get()) {
        if (s->m_combinator != litehtml::combinator_descendant &&
            s->m_combinator != litehtml::combinator_child)
            continue;
        std::string k = compoundKey(s->m_left->m_right);
        int rank = k.empty() ? 0 : k[0] == '#' ? 3 : k[0] == '.' ? 2 : 1;
        if (rank > bestRank) {
            best = std::move(k);
            bestRank = rank;
        }
    }
    return best;
}

// Calls `use` with every key an element carries, made in `scratch` (see key()): its tag, its id
// and its classes (split on spaces and on any white space, so that the split the engine uses is
// among them).
template <class Use>
void forEachKey(const litehtml::element& el, std::string& scratch, Use use) {
    auto emit = [&](char kind, std::string_view text) {
        scratch.assign(1, kind);
        for (char c : text) scratch.push_back(c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c);
        use(scratch);
    };
    if (const char* tag = el.get_tagName(); tag && *tag) emit('t', tag);
    if (const char* id = el.get_attr("id"); id && *id) emit('#', id);
    if (const char* cls = el.get_attr("class"); cls && *cls) {
        std::string_view text(cls);
        auto split = [&](auto isSeparator) {
            std::size_t start = 0;
            for (std::size_t i = 0; i <= text.size(); ++i) {
                if (i == text.size() || isSeparator(text[i])) {
                    if (i > start) emit('.', text.substr(start, i - start));
                    start = i + 1;
                }
            }
        };
        split([](char c) { return c == ' '; });
        // Split apart at other white space too, when there is any.
        if (text.find_first_of("\t\n\r\f") != std::string_view::npos)
            split([](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; });
    }
}

bool isGenerated(const litehtml::element& el) {
    const char* tag = el.get_tagName();
    return tag && tag[0] == ':' && (std::strcmp(tag, "::before") == 0 || std::strcmp(tag, "::after") == 0);
}

bool isBefore(const litehtml::element& el) {
    const char* tag = el.get_tagName();
    return tag && tag[0] == ':' && std::strcmp(tag, "::before") == 0;
}

// A child the styling of its parent styles in turn: not text, not generated content.
bool isStyledChild(const litehtml::element& el) {
    return el.get_display() != litehtml::display_inline_text && !isGenerated(el);
}

std::uintptr_t memoKey(const void* selector, bool applyPseudo) {
    return reinterpret_cast<std::uintptr_t>(selector) ^ (applyPseudo ? 1u : 0u);
}

constexpr std::uint32_t kNoKey = 0;
// A rule an element meets costs more than one matching step: the engine parses its declarations
// again for each element it applies to and keeps a copy of each in the element, so a rule costs
// by the length of its declarations too (a rule of thousands of declarations over every element
// of a page would otherwise hold the main thread for minutes and take gigabytes).
constexpr std::size_t kStepsPerCandidate = 4;
constexpr std::size_t kDeclarationBytesPerStep = 1;

// Declarations past this length are almost always one inline picture (a data: URL), which the
// engine copies whole into every element the rule meets. Their bytes past it are counted apart,
// so that one such rule over many elements runs out of its own allowance, not the page's: past
// it, only rules that long are dropped.
constexpr std::size_t kBulkDeclarationBytes = 4096;
constexpr std::size_t kBulkBytesPerPass = 32u << 20;

// The engine parses the argument of a pseudo-class such as :not() again on every try and
// recurses into it, so a selector nested n deep costs the square of its length per element.
// Real sheets nest two or three deep; a rule nested deeper than this is dropped outright.
constexpr int kMostArgumentNesting = 8;

// An element of more classes than this answers class tests through its own index: the engine
// compares each class a selector asks for with every class of the element.
constexpr std::size_t kClassIndexFrom = 16;

// How deep parentheses nest in the arguments of a compound's pseudo-classes, and the bytes the
// engine parses to try them once.
struct ArgumentWork {
    int nesting = 0;
    std::size_t bytes = 0;
};
ArgumentWork argumentWork(const litehtml::css_element_selector& compound) {
    ArgumentWork work;
    for (const auto& a : compound.m_attrs) {
        if (a.condition != litehtml::select_pseudo_class) continue;
        int depth = 0, deepest = 0;
        for (char c : a.val) {
            if (c == '(')
                deepest = std::max(deepest, ++depth);
            else if (c == ')' && depth > 0)
                --depth;
        }
        if (deepest == 0) continue;
        work.nesting = std::max(work.nesting, deepest);
        // Each level parses what is inside it again.
        work.bytes += a.val.size() * std::size_t(deepest);
    }
    return work;
}

}  // namespace

namespace {

class MatchedMixin;

// Whether a pseudo-class of a rule's subject answers the same for every child of one parent
// whose own tag, classes, attributes and states are alike: states do, :not() and :lang() of such
// do; anything that counts siblings or children (or is unknown) does not.
bool sameForAlikeSiblings(const std::string& pseudo) {
    static const char* const kStructural[] = {"child", "type", "empty", "root", "scope"};
    for (const char* word : kStructural)
        if (pseudo.find(word) != std::string::npos) return false;
    const std::string name = pseudo.substr(0, pseudo.find('('));
    static const char* const kAlike[] = {"hover", "active", "focus", "link", "visited", "not", "lang"};
    return std::any_of(std::begin(kAlike), std::end(kAlike), [&](const char* a) { return name == a; });
}

// Whether a rule answers alike for alike children of one parent and adds to the element nothing but
// its declarations, parsed alike, so that one child's outcome may be copied to the next: no sibling
// combinator or sibling count on its subject, no generated content, no var() (the engine resolves
// it against the element as it parses) and no declarations long enough to be counted apart.
bool copiesToAlikeSiblings(const litehtml::css_selector& rule) {
    if (rule.m_left && (rule.m_combinator == litehtml::combinator_adjacent_sibling ||
                        rule.m_combinator == litehtml::combinator_general_sibling))
        return false;
    for (const auto& a : rule.m_right.m_attrs) {
        if (a.condition == litehtml::select_pseudo_element) return false;
        if (a.condition == litehtml::select_pseudo_class && !sameForAlikeSiblings(a.val)) return false;
    }
    return rule.m_style.size() <= kBulkDeclarationBytes && rule.m_style.find("var(") == std::string::npos;
}

// Parses a rule's declarations as the engine parses them into an element, once: an element the
// rule meets then merges the parsed properties, which ends the same as parsing them again into
// it (what the engine does for every element a rule meets) at a fraction of the cost.
class DeclarationParser final : public litehtml::html_tag {
  public:
    using html_tag::html_tag;
    std::unique_ptr<litehtml::style> parse(const litehtml::tstring& declarations,
                                           const litehtml::tstring& baseurl) {
        m_style.clear();
        html_tag::add_style(declarations, baseurl);
        auto parsed = std::make_unique<litehtml::style>();
        *parsed = m_style;
        m_style.clear();
        return parsed;
    }
};

}  // namespace

// The same for children of alike parents (of alike parents...): nothing in the rule counts or
// looks at siblings, of the element or of any ancestor.
bool copiesToAlikeCousins(const litehtml::css_selector& rule) {
    if (!copiesToAlikeSiblings(rule)) return false;
    for (const litehtml::css_selector* s = &rule; s; s = s->m_left.get()) {
        if (s->m_left && s->m_combinator != litehtml::combinator_descendant &&
            s->m_combinator != litehtml::combinator_child)
            return false;
        for (const auto& a : s->m_right.m_attrs)
            if (a.condition == litehtml::select_pseudo_class && !sameForAlikeSiblings(a.val)) return false;
    }
    return true;
}

namespace {

// What one element remembers within one pass, for what its children and descendants ask of it:
// a pass styles elements in document order and a selector only looks up and back (at ancestors
// and earlier siblings), so an element is asked only while it or one of its descendants is being
// styled. Its memo is let go when its subtree is styled (and every memo when the pass ends), so
// that what a pass remembers grows with the depth of the page and the children of the elements
// on the way down, never with its elements times the compounds of its sheet.
struct ElementMemo {
    std::uint64_t generation = 0;
    std::size_t holder = 0;      // its place among the matching's memos
    std::size_t remembered = 0;  // entries counted against the pass's allowance

    // Per (selector, pseudo) asked of the element by a child (">"), and the element itself or its
    // nearest ancestor matching it, for descendants (" ").
    std::unordered_map<std::uintptr_t, int> selected;
    std::unordered_map<std::uintptr_t, std::pair<litehtml::element*, bool>> selfOrAncestor;

    // As a parent: its children as the engine counts them (all but text), each one's position
    // and position among children of its tag, and per (selector, pseudo) how far its children
    // were tried for "~" and the last of them matching: later children ask in document order.
    bool indexed = false;
    std::size_t indexedCount = 0;
    std::vector<litehtml::element*> counted;
    std::vector<MatchedMixin*> countedMatched;  // the same, null for the engine's own elements
    std::unordered_map<const litehtml::element*, std::uint32_t> position;
    std::vector<std::uint32_t> typePosition;
    std::unordered_map<std::string, std::uint32_t> typeCount;
    struct Scan {
        std::uint32_t tried = 0;  // children before this one were tried
        std::int32_t last = -1;   // the last of them matching
        bool lastPseudo = false;
    };
    std::unordered_map<std::uintptr_t, Scan> siblings;
};

}  // namespace

class ElementMatching {
  public:
    ElementMatching(std::size_t maxSteps, std::size_t maxProperties, std::size_t maxRemembered)
        : maxSteps_(maxSteps), maxProperties_(maxProperties), maxRemembered_(maxRemembered) {}
    ElementMatching(const ElementMatching&) = delete;
    ElementMatching& operator=(const ElementMatching&) = delete;

    std::uint64_t generation() const { return generation_; }
    bool inPass() const { return active_ > 0; }
    void invalidate() { ++generation_; }

    void beginPass() {
        if (active_++ > 0) return;
        ++generation_;
        steps_ = 0;
        exhausted_ = false;
        bulk_ = 0;
        bulkExhausted_ = false;
        properties_ = 0;
        propertiesExhausted_ = false;
        mostRemembered_ = 0;
        forgetful_ = false;
        ++stats_.passes;
    }
    void endPass() {
        if (--active_ > 0) return;
        while (!holders_.empty()) release(*holders_.back());
        stats_.lastPassRemembered = mostRemembered_;
        stats_.mostPassRemembered = std::max(stats_.mostPassRemembered, mostRemembered_);
        stats_.lastPassSteps = steps_;
        stats_.mostPassSteps = std::max(stats_.mostPassSteps, steps_);
        stats_.lastPassProperties = properties_;
        stats_.mostPassProperties = std::max(stats_.mostPassProperties, properties_);
    }

    // False once the pass has spent its budget: the caller answers "no match".
    bool spend(std::size_t n) {
        if (exhausted_) return false;
        steps_ += n;
        if (steps_ <= maxSteps_) return true;
        exhausted_ = true;
        ++stats_.exhaustedPasses;
        return false;
    }
    // The same for the bytes of long declarations, which have an allowance of their own.
    bool spendBulk(std::size_t bytes) {
        if (bulk_ + bytes > kBulkBytesPerPass) {
            if (!bulkExhausted_) ++stats_.bulkDroppedPasses;
            bulkExhausted_ = true;
            return false;
        }
        bulk_ += bytes;
        return true;
    }

    // The properties rules store in elements, which is what a page's styles weigh (a property
    // a later rule only overwrites weighs nothing more). The pass stores until it passes its
    // allowance; the rule that passes it is kept, the ones after it that would store are dropped.
    void stored(std::size_t n) {
        properties_ += n;
        if (properties_ <= maxProperties_ || propertiesExhausted_) return;
        propertiesExhausted_ = true;
        ++stats_.propertyDroppedPasses;
    }
    std::size_t storedProperties() const { return properties_; }
    bool storesNoMore() const { return propertiesExhausted_; }

    // An element's memo for this pass, made if it has none (or one of an earlier pass).
    ElementMemo& memoOf(std::unique_ptr<ElementMemo>& slot) {
        if (slot && slot->generation == generation_) return *slot;
        release(slot);
        slot = std::make_unique<ElementMemo>();
        slot->generation = generation_;
        slot->holder = holders_.size();
        holders_.push_back(&slot);
        return *slot;
    }
    // Lets an element's memo go (its subtree is styled, it changed, or it goes).
    void release(std::unique_ptr<ElementMemo>& slot) {
        if (!slot) return;
        remembered_ -= slot->remembered;
        const std::size_t at = slot->holder;
        holders_[at] = holders_.back();
        (*holders_[at])->holder = at;
        holders_.pop_back();
        slot.reset();
    }
    // The children of `memo`'s element changed: how far they were tried counts no more.
    void forgetSiblings(ElementMemo& memo) {
        memo.remembered -= memo.siblings.size();
        remembered_ -= memo.siblings.size();
        memo.siblings.clear();
    }
    // Whether the pass may remember one more answer in `memo`; past its allowance it answers
    // again whatever is asked again (within the step budget), and remembers nothing more.
    bool remember(ElementMemo& memo) {
        if (remembered_ >= maxRemembered_) {
            if (!forgetful_) ++stats_.forgetfulPasses;
            forgetful_ = true;
            return false;
        }
        ++memo.remembered;
        mostRemembered_ = std::max(mostRemembered_, ++remembered_);
        return true;
    }

    // ---- reading styles in (parse_styles) ----
    // The engine reads an element's properties in from its styles once they are matched, parent
    // before children, and a property the element does not set (or sets to "inherit") is asked of
    // its parent, which asks its own parent, up to the root: a page of many elements asks its
    // upper elements the same few dozen properties again for every element below them. So the
    // answers of each element on the way down are remembered for its children while it is read
    // in, as long as no style on the way changes.
    struct StyleLevel {
        const MatchedMixin* el = nullptr;
        const litehtml::element* element = nullptr;
        bool parentBelow = false;  // its parent is the level below
        std::uint64_t stamp = 0;   // its answers of this stamp hold
    };
    // Returns the element's level.
    std::size_t enterStyles(const MatchedMixin* el, const litehtml::element* element,
                            const litehtml::element* parent) {
        const bool parentBelow = !styleLevels_.empty() && styleLevels_.back().element == parent;
        styleLevels_.push_back({el, element, parentBelow, ++styleStamp_});
        if (styleSlots_.size() < styleLevels_.size()) styleSlots_.emplace_back();
        return styleLevels_.size() - 1;
    }
    void leaveStyles() { styleLevels_.pop_back(); }
    // The parent of the element at `level`, when the element is there and its parent below it.
    const MatchedMixin* styledParent(const MatchedMixin* el, std::size_t level) const {
        if (level >= styleLevels_.size() || styleLevels_[level].el != el || !styleLevels_[level].parentBelow)
            return nullptr;
        return styleLevels_[level - 1].el;
    }
    // The element at `level` changed its styles: its answers and those below it no longer hold.
    void restyled(const MatchedMixin* el, std::size_t level) {
        if (level >= styleLevels_.size() || styleLevels_[level].el != el) level = 0;
        for (std::size_t i = level; i < styleLevels_.size(); ++i) styleLevels_[i].stamp = ++styleStamp_;
    }
    // What the element at `level` answers for a property, remembered (`find` asks it).
    template <class Find>
    const char* rememberedStyle(std::size_t level, const char* name, bool inherited, Find find) {
        auto& slots = styleSlots_[level];
        const std::uint64_t stamp = styleLevels_[level].stamp;
        // Names are the engine's constants: a pointer is a good key, checked by its text.
        const std::size_t start = std::size_t(
            (reinterpret_cast<std::uintptr_t>(name) >> 3) * 0x9E3779B97F4A7C15u >> (64 - kStyleSlotBits));
        for (std::size_t probe = 0; probe < 8; ++probe) {
            StyleSlot& slot = slots[(start + probe) & (slots.size() - 1)];
            if (slot.stamp != stamp) {
                const char* value = find();
                // `find` may have entered levels above (none below): the slot is still this level's.
                slot.name = name;
                slot.text.assign(name);
                slot.value = value;
                slot.stamp = stamp;
                slot.inherited = inherited;
                return value;
            }
            if (slot.name == name && slot.inherited == inherited && slot.text == name) return slot.value;
        }
        return find();
    }
    // The names of the properties an element sets, hashed into a few bits each: most properties the
    // engine reads in an element does not set, and the bits tell those apart without a lookup.
    struct StyleNames {
        std::uint64_t bits[2] = {0, 0};

        // From the length and the first and last eight bytes, which tell the engine's property
        // names apart (many share a beginning, or an end).
        static std::uint64_t hash(std::string_view name) {
            std::uint64_t first = 0, last = 0;
            if (name.size() >= 8) {
                std::memcpy(&first, name.data(), 8);
                std::memcpy(&last, name.data() + name.size() - 8, 8);
            } else {
                std::memcpy(&first, name.data(), name.size());
            }
            std::uint64_t h = (first * 0x9E3779B97F4A7C15u) ^ (last * 0xC2B2AE3D27D4EB4Fu) ^ name.size();
            h ^= h >> 31;
            h *= 0x94D049BB133111EBu;
            return h ^ (h >> 29);
        }
        void add(std::uint64_t h) {
            bits[(h >> 6) & 1] |= std::uint64_t(1) << (h & 63);
            bits[(h >> 13) & 1] |= std::uint64_t(1) << ((h >> 7) & 63);
        }
        bool mayHold(std::uint64_t h) const {
            return (bits[(h >> 6) & 1] >> (h & 63) & 1) && (bits[(h >> 13) & 1] >> ((h >> 7) & 63) & 1);
        }
        static StyleNames of(const litehtml::style& style) {
            StyleNames names;
            for (const auto& property : style.*member(StylePropertiesTag{})) names.add(hash(property.first));
            return names;
        }
    };
    // Whether the element at `level` is read in now, and the stamp its answers hold under.
    bool readingIn(const MatchedMixin* el, std::size_t level) const {
        return level < styleLevels_.size() && styleLevels_[level].el == el;
    }
    std::uint64_t stampAt(std::size_t level) const { return styleLevels_[level].stamp; }

    // A property an element sets itself, looked up without making its name a string each time;
    // `names`, when given, are those the element sets.
    const char* ownStyle(const litehtml::style& style, const char* name, const StyleNames* names = nullptr) {
        if (!name) return nullptr;
        const litehtml::props_map& properties = style.*member(StylePropertiesTag{});
        if (properties.empty()) return nullptr;
        if (names && !names->mayHold(StyleNames::hash(name))) return nullptr;
        styleKey_.assign(name);
        auto it = properties.find(styleKey_);
        return it == properties.end() ? nullptr : it->second.m_value.c_str();
    }

    // The element whose own rules the engine is trying (being styled or refreshed): what it is
    // asked, it is asked once, so it remembers none of it.
    const litehtml::element* subject() const { return subject_; }
    const litehtml::element* setSubject(const litehtml::element* el) { return std::exchange(subject_, el); }

    // The sheet the engine hands down may be one this matching filtered for a parent.
    const litehtml::css& fullSheet(const litehtml::css& sheet) const {
        for (auto it = filtered_.rbegin(); it != filtered_.rend(); ++it)
            if (it->first == &sheet) return *it->second;
        return sheet;
    }
    void pushFiltered(const litehtml::css& filtered, const litehtml::css& full) {
        filtered_.emplace_back(&filtered, &full);
    }
    void popFiltered() { filtered_.pop_back(); }

    int applyDepth = 0;

    void startStyling(const litehtml::css& sheet, const litehtml::element& el) {
        buildIndex(sheet);
        // A subtree styled on its own still has ancestors rules may need.
        std::vector<litehtml::element::ptr> chain;
        for (auto p = el.parent(); p; p = p->parent()) chain.push_back(p);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) pushAncestorKeys(**it);
    }
    void endStyling() {
        kinds_.clear();
        kinds_stack_.clear();
        ruleOfDeclarations_.clear();
        parsed_.clear();
        pushed_.clear();
        active_ancestors_.clear();
        std::fill(ancestorCount_.begin(), ancestorCount_.end(), 0);
    }

    // Whether an element's outcome may be copied to alike siblings, and to alike cousins.
    struct Copies {
        bool siblings = false;
        bool cousins = false;
    };

    // Fills `out` with the rules of `full` the element can meet, in the sheet's order. Answers
    // whether all of them were granted and each copies to alike siblings (cousins).
    Copies candidates(const litehtml::element& el, const litehtml::css& full, litehtml::css& out,
                      std::size_t* spent = nullptr) {
        const std::size_t start = steps_;
        auto& rules = rulesOf(out);
        rules.clear();
        if (&full != indexed_) return {};  // not styling: nothing is applied outside a pass
        ownKeys(el);
        if (!spend(1 + (active_ancestors_.size() + 1) * ownRight_.size())) return {};
        found_.clear();
        auto gather = [&](std::uint32_t anc) {
            for (std::uint32_t r : ownRight_) {
                auto it = buckets_.find((std::uint64_t(anc) << 32) | r);
                if (it != buckets_.end()) found_.insert(found_.end(), it->second.begin(), it->second.end());
            }
        };
        gather(kNoKey);
        for (std::uint32_t a : active_ancestors_) gather(a);
        std::sort(found_.begin(), found_.end());
        const auto& all = full.selectors();
        rules.reserve(found_.size());
        Copies copies{true, true};
        for (std::uint32_t i : found_) {
            if (!spend(ruleCost_[i])) return {};
            copies.siblings = copies.siblings && ruleCopies_[i];
            copies.cousins = copies.cousins && ruleCopiesToCousins_[i];
            // A rule dropped for what it would store spends nothing of the long declarations'.
            if ((propertiesExhausted_ && ruleStores_[i]) || (ruleBulk_[i] && !spendBulk(ruleBulk_[i]))) {
                copies = {};
                continue;
            }
            rules.push_back(all[i]);
        }
        if (spent) *spent = steps_ - start;
        return copies;
    }

    // What a child styled by itself in this pass leaves for alike elements: its outcome may be
    // copied by one whose styles before the pass came from the same history.
    struct Shared {
        MatchedMixin* source = nullptr;
        const litehtml::element* parent = nullptr;
        std::uint64_t before = 0;    // the source's history before this pass
        std::uint64_t after = 0;     // and after it
        std::size_t steps = 0;       // what its rules cost it, which a copy costs again
        std::size_t properties = 0;  // what its rules stored in it, which a copy stores again
        bool cousins = false;        // whether children of other alike parents may copy it too
    };
    // Elements alike for this sheet's selectors: the same tag, classes, states and attributes
    // that the sheet looks at or the engine turns into styles (ids the sheet never names and
    // style attributes are not looked at), under alike parents (the root's children under it).
    struct Kind {
        std::uint64_t id = 0;
        Shared shared;
    };
    // The kind of a child of the element being styled (see beginChildren). `copies` tells
    // whether the element may copy or be copied at all: not with an id or a style attribute.
    Kind& kindOf(const std::string& tag, const litehtml::string_map& attrs,
                 const litehtml::string_vector& states, bool& copies) {
        copies = true;
        std::string& out = kindKey_;
        const std::uint64_t parent = kinds_stack_.empty() ? 0 : kinds_stack_.back();
        out.assign(reinterpret_cast<const char*>(&parent), sizeof parent);
        auto add = [&out](const std::string& text) {
            const std::size_t n = text.size();
            out.append(reinterpret_cast<const char*>(&n), sizeof n);
            out += text;
        };
        add(tag);
        for (const auto& [name, value] : attrs) {
            if (name == "style") {
                copies = false;
                continue;
            }
            if (name == "id") {
                copies = false;
                if (!allIdsSeen_ && !attributesSeen_.count(name) && !idsSeen_.count(key('#', value)))
                    continue;
            } else if (ignoredAttribute(name)) {
                // An anchor with a link marks itself one as it is styled.
                if (name == "href") out += '\2';
                continue;
            }
            add(name);
            add(value);
        }
        out += '\1';
        for (const auto& state : states) add(state);
        auto [it, added] = kinds_.try_emplace(out);
        if (added) it->second.id = ++lastKind_;
        return it->second;
    }
    // Around styling the children of an element of a kind.
    void beginChildren(std::uint64_t kind) { kinds_stack_.push_back(kind); }
    void endChildren() {
        if (!kinds_stack_.empty()) kinds_stack_.pop_back();
    }
    std::uint64_t newHistory() { return ++histories_; }

    // The declarations of a rule of the sheet being applied, parsed (see DeclarationParser), or
    // null where they must be parsed into the element itself: outside styling (the rule may be
    // of another sheet), var() (resolved against the element) and long declarations (not kept
    // twice).
    const litehtml::style* parsedDeclarations(const litehtml::tstring& declarations,
                                              const litehtml::tstring& baseurl, const litehtml::element& el) {
        if (applyDepth == 0 || !indexed_) return nullptr;
        auto it = ruleOfDeclarations_.find(&declarations);
        if (it == ruleOfDeclarations_.end()) return nullptr;
        const litehtml::css_selector& rule = *indexed_->selectors()[it->second];
        if (&baseurl != &rule.m_baseurl || declarations.size() > kBulkDeclarationBytes ||
            declarations.find("var(") != std::string::npos)
            return nullptr;
        std::unique_ptr<litehtml::style>& parsed = parsed_[it->second];
        if (!parsed) {
            if (!parser_) {
                auto doc = el.get_document();
                if (!doc) return nullptr;
                parser_ = std::make_unique<DeclarationParser>(doc);
            }
            parsed = parser_->parse(declarations, baseurl);
        }
        return parsed.get();
    }
    void noteCopy() { ++stats_.copiedStyles; }

    // Returns a mark for popAncestorKeys.
    std::size_t pushAncestorKeys(const litehtml::element& el) {
        std::size_t mark = pushed_.size();
        forEachKey(el, scratchKey_, [&](const std::string& k) {
            auto it = ids_.find(k);
            if (it == ids_.end() || !(roles_[it->second] & kAncestorRole)) return;
            std::uint32_t id = it->second;
            pushed_.push_back(id);
            if (ancestorCount_[id]++ == 0) active_ancestors_.push_back(id);
        });
        return mark;
    }
    void popAncestorKeys(std::size_t mark) {
        while (pushed_.size() > mark) {
            std::uint32_t id = pushed_.back();
            pushed_.pop_back();
            // Keys are pushed and popped in nesting order, so one that falls to zero here is
            // the last one made active.
            if (--ancestorCount_[id] == 0 && !active_ancestors_.empty() && active_ancestors_.back() == id)
                active_ancestors_.pop_back();
            else if (ancestorCount_[id] == 0)
                active_ancestors_.erase(std::find(active_ancestors_.begin(), active_ancestors_.end(), id));
        }
    }

    ElementMatchingStats stats() const { return stats_; }

  private:
    static constexpr std::uint8_t kRightRole = 1;
    static constexpr std::uint8_t kAncestorRole = 2;

    std::uint32_t intern(const std::string& k, std::uint8_t role) {
        if (k.empty()) return kNoKey;
        auto [it, added] = ids_.emplace(k, std::uint32_t(roles_.size()));
        if (added) roles_.push_back(0);
        roles_[it->second] |= role;
        return it->second;
    }

    // Attributes that neither this sheet's selectors look at nor the engine turns into styles
    // (a link's target, a picture's source, data): children differing in them alone are alike.
    bool ignoredAttribute(const std::string& name) const {
        if (allAttributesSeen_ || attributesSeen_.count(name)) return false;
        static const char* const kInert[] = {"href", "src", "alt", "title", "target", "rel", "name"};
        return name.rfind("data-", 0) == 0 ||
               std::any_of(std::begin(kInert), std::end(kInert), [&](const char* a) { return name == a; });
    }

    void noteAttributes(const litehtml::css_element_selector& compound) {
        for (const auto& a : compound.m_attrs) {
            if (a.condition == litehtml::select_pseudo_element) continue;
            if (a.condition == litehtml::select_pseudo_class) {
                if (a.val.find('[') != std::string::npos) allAttributesSeen_ = true;
                if (a.val.find('#') != std::string::npos) allIdsSeen_ = true;
                if (a.val.find("lang") != std::string::npos) attributesSeen_.insert("lang");
                continue;
            }
            if (a.condition == litehtml::select_equal && a.attribute == "id") {
                idsSeen_.insert(key('#', a.val));
                continue;
            }
            attributesSeen_.insert(key('a', a.attribute).substr(1));
            attributesSeen_.insert(a.attribute);
        }
    }

    void buildIndex(const litehtml::css& sheet) {
        ids_.clear();
        attributesSeen_.clear();
        allAttributesSeen_ = false;
        idsSeen_.clear();
        allIdsSeen_ = false;
        kinds_.clear();
        kinds_stack_.clear();
        ruleCopies_.clear();
        ruleCopiesToCousins_.clear();
        roles_.assign(1, 0);  // id 0: no key
        buckets_.clear();
        ruleCost_.clear();
        ruleBulk_.clear();
        ruleStores_.clear();
        ruleOfDeclarations_.clear();
        parsed_.clear();
        parsed_.resize(sheet.selectors().size());
        const auto& rules = sheet.selectors();
        for (std::size_t i = 0; i < rules.size(); ++i) {
            const litehtml::css_selector& rule = *rules[i];
            int nesting = 0;
            for (const litehtml::css_selector* s = &rule; s; s = s->m_left.get()) {
                nesting = std::max(nesting, argumentWork(s->m_right).nesting);
                noteAttributes(s->m_right);
            }
            ruleCopies_.push_back(copiesToAlikeSiblings(rule));
            ruleCopiesToCousins_.push_back(copiesToAlikeCousins(rule));
            ruleOfDeclarations_.emplace(&rule.m_style, std::uint32_t(i));
            const std::size_t declarations = rule.m_style.size();
            const std::size_t counted = std::min(declarations, kBulkDeclarationBytes);
            ruleCost_.push_back(kStepsPerCandidate + argumentWork(rule.m_right).bytes +
                                counted / kDeclarationBytesPerStep);
            ruleBulk_.push_back(declarations - counted);
            ruleStores_.push_back(rule.m_style.find_first_not_of(" \t\n\r\f;") != std::string::npos);
            if (nesting > kMostArgumentNesting) continue;  // in no bucket: never met
            std::uint32_t r = intern(compoundKey(rule.m_right), kRightRole);
            std::uint32_t a = intern(ancestorKey(rule), kAncestorRole);
            buckets_[(std::uint64_t(a) << 32) | r].push_back(std::uint32_t(i));
        }
        ancestorCount_.assign(roles_.size(), 0);
        active_ancestors_.clear();
        pushed_.clear();
        indexed_ = &sheet;
    }

    void ownKeys(const litehtml::element& el) {
        ownRight_.assign(1, kNoKey);
        forEachKey(el, scratchKey_, [&](const std::string& k) {
            auto it = ids_.find(k);
            if (it != ids_.end() && (roles_[it->second] & kRightRole)) ownRight_.push_back(it->second);
        });
        std::sort(ownRight_.begin(), ownRight_.end());
        ownRight_.erase(std::unique(ownRight_.begin(), ownRight_.end()), ownRight_.end());
    }

    std::size_t maxSteps_;
    std::size_t steps_ = 0;
    bool exhausted_ = false;
    std::size_t bulk_ = 0;
    bool bulkExhausted_ = false;
    std::size_t maxProperties_;
    std::size_t properties_ = 0;
    bool propertiesExhausted_ = false;
    std::uint64_t generation_ = 1;
    int active_ = 0;
    ElementMatchingStats stats_;
    std::size_t maxRemembered_;
    std::size_t remembered_ = 0;      // entries the memos hold now
    std::size_t mostRemembered_ = 0;  // and at most in this pass
    bool forgetful_ = false;          // this pass reached its allowance
    std::vector<std::unique_ptr<ElementMemo>*> holders_;
    const litehtml::element* subject_ = nullptr;

    static constexpr std::size_t kStyleSlotBits = 6;
    struct StyleSlot {
        const char* name = nullptr;
        std::string text;
        const char* value = nullptr;
        std::uint64_t stamp = 0;
        bool inherited = false;
    };
    std::vector<StyleLevel> styleLevels_;
    std::vector<std::array<StyleSlot, std::size_t(1) << kStyleSlotBits>> styleSlots_;
    std::uint64_t styleStamp_ = 0;
    std::string styleKey_;

    std::vector<std::pair<const litehtml::css*, const litehtml::css*>> filtered_;

    const litehtml::css* indexed_ = nullptr;
    std::unordered_map<std::string, std::uint32_t> ids_;
    std::vector<std::uint8_t> roles_;
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> buckets_;
    std::vector<std::size_t> ruleCost_;  // steps, by rule
    std::vector<std::size_t> ruleBulk_;  // bytes of long declarations, by rule
    std::vector<bool> ruleStores_;       // by rule: whether it has declarations to store
    std::vector<bool> ruleCopies_;       // by rule: see copiesToAlikeSiblings
    std::unordered_set<std::string> attributesSeen_;
    bool allAttributesSeen_ = false;
    std::unordered_set<std::string> idsSeen_;  // keyed as the index keys them
    bool allIdsSeen_ = false;
    std::vector<bool> ruleCopiesToCousins_;        // by rule: see copiesToAlikeCousins
    std::unordered_map<std::string, Kind> kinds_;  // this pass's
    std::vector<std::uint64_t> kinds_stack_;       // of the elements whose children are styled
    std::uint64_t lastKind_ = 0;
    std::string kindKey_;
    std::uint64_t histories_ = 0;
    std::unordered_map<const litehtml::tstring*, std::uint32_t> ruleOfDeclarations_;
    std::vector<std::unique_ptr<litehtml::style>> parsed_;  // by rule, as met
    std::unique_ptr<DeclarationParser> parser_;
    std::vector<int> ancestorCount_;
    std::vector<std::uint32_t> active_ancestors_;
    std::vector<std::uint32_t> pushed_;

    std::string scratchKey_;
    std::vector<std::uint32_t> ownRight_;
    std::vector<std::uint32_t> found_;
};

namespace {

class PassScope {
  public:
    explicit PassScope(ElementMatching& m) : m_(m) { m_.beginPass(); }
    ~PassScope() { m_.endPass(); }
    PassScope(const PassScope&) = delete;
    PassScope& operator=(const PassScope&) = delete;

  private:
    ElementMatching& m_;
};

// The element whose own rules the engine tries, for a scope.
class SubjectScope {
  public:
    SubjectScope(ElementMatching& m, const litehtml::element* el) : m_(m), saved_(m.setSubject(el)) {}
    ~SubjectScope() { m_.setSubject(saved_); }
    SubjectScope(const SubjectScope&) = delete;
    SubjectScope& operator=(const SubjectScope&) = delete;

  private:
    ElementMatching& m_;
    const litehtml::element* saved_;
};

// Marks elements matched here, so that a parent knows which children take the full sheet, and
// answers what other elements ask of it.
class MatchedMixin {
  public:
    explicit MatchedMixin(std::shared_ptr<ElementMatching> matching) : matching_(std::move(matching)) {}
    virtual ~MatchedMixin() { matching_->release(memo_); }
    MatchedMixin(const MatchedMixin&) = delete;
    MatchedMixin& operator=(const MatchedMixin&) = delete;

    // A selector asked of the element for a later sibling ("+", "~"): a pass asks it once (the
    // next sibling asks for "+", and a parent tries each child once for "~"), so the answer is
    // not remembered.
    virtual int selectForSibling(const litehtml::css_selector& selector, bool applyPseudo) = 0;
    // The element itself or its nearest ancestor matching `selector`, and whether it matched by a
    // pseudo-class, remembered for the element's descendants.
    virtual std::pair<litehtml::element*, bool> selfOrAncestor(const litehtml::css_selector& selector,
                                                               bool applyPseudo) = 0;
    // What the engine's element answers for a property with no default (see get_style_property).
    virtual const char* styleOf(const char* name, bool inherited) const = 0;

  protected:
    ElementMemo& memo() const { return matching_->memoOf(memo_); }
    // Nothing is asked of the element any more in this pass: its subtree is styled.
    void forget() const { matching_->release(memo_); }
    // The element changed what selectors see of it. Within a pass elements are styled in
    // document order, so nothing else has asked about it yet; outside one, everything may have.
    void changed() {
        if (matching_->inPass())
            forget();
        else
            matching_->invalidate();
    }

    std::shared_ptr<ElementMatching> matching_;
    mutable std::unique_ptr<ElementMemo> memo_;
    // Its place among the elements whose styles are read in (see ElementMatching::StyleLevel).
    std::size_t styleLevel_ = 0;
    // Which styles the element holds: elements of one history got the same styles from the same
    // rules, pass after pass (0: none yet, as made).
    std::uint64_t history_ = 0;
};

bool nthMatches(int idx, int num, int off) {
    if (num != 0) return (idx - off) >= 0 && (idx - off) % num == 0;
    return idx == off;
}

template <class Base>
class Matched : public Base, public MatchedMixin {
    // The engine's anchor does more in its pass than apply rules: it marks itself a link when it
    // has one, which a copy copies too (alike anchors have a link alike).
    static constexpr bool kMarksItself = std::is_same_v<Base, litehtml::el_anchor>;

  public:
    Matched(const std::shared_ptr<litehtml::document>& doc, std::shared_ptr<ElementMatching> matching)
        : Base(doc), MatchedMixin(std::move(matching)) {}

    using Base::select;
    // A selector asked of the element by a child (">") is remembered for the element's other
    // children; one the element is styled by is asked once.
    int select(const litehtml::css_selector& selector, bool applyPseudo) override {
        PassScope pass(*matching_);
        ElementMatching& m = *matching_;
        if (m.subject() == this)
            return m.spend(1) ? Base::select(selector, applyPseudo) : litehtml::select_no_match;
        const auto k = memoKey(&selector, applyPseudo);
        if (auto it = memo().selected.find(k); it != memo_->selected.end()) return it->second;
        if (!m.spend(1)) return litehtml::select_no_match;
        const int result = Base::select(selector, applyPseudo);
        if (ElementMemo& memo = this->memo(); m.remember(memo)) memo.selected.emplace(k, result);
        return result;
    }

    int selectForSibling(const litehtml::css_selector& selector, bool applyPseudo) override {
        return matching_->spend(1) ? Base::select(selector, applyPseudo) : litehtml::select_no_match;
    }

    std::pair<litehtml::element*, bool> selfOrAncestor(const litehtml::css_selector& selector,
                                                       bool applyPseudo) override {
        ElementMatching& m = *matching_;
        const auto k = memoKey(&selector, applyPseudo);
        if (auto it = memo().selfOrAncestor.find(k); it != memo_->selfOrAncestor.end()) return it->second;
        std::pair<litehtml::element*, bool> found{nullptr, false};
        if (!m.spend(1)) return found;
        const int result = selectForSibling(selector, applyPseudo);
        if (result != litehtml::select_no_match)
            found = {this, (result & litehtml::select_match_pseudo_class) != 0};
        else if (auto parent = this->parent())
            found = ancestorOf(*parent, selector, applyPseudo);
        if (ElementMemo& memo = this->memo(); m.remember(memo)) memo.selfOrAncestor.emplace(k, found);
        return found;
    }

    // One compound against this element alone. The engine also comes here for the argument of
    // a :not(), which it parses again each time: that work is counted.
    int select(const litehtml::css_element_selector& compound, bool applyPseudo) override {
        PassScope pass(*matching_);
        const ArgumentWork work = argumentWork(compound);
        if (work.nesting > kMostArgumentNesting || !matching_->spend(1 + work.bytes))
            return litehtml::select_no_match;
        if (std::vector<std::string>* full = fullClasses_) {
            // An argument inside a compound tried on the narrowed classes: it may ask for others.
            ClassesSwap restore(*this, *full, nullptr);
            return select(compound, applyPseudo);
        }
        if (this->m_class_values.size() <= kClassIndexFrom) return Base::select(compound, applyPseudo);
        // The engine looks each class the compound asks for up among all of the element's: the
        // index answers which of them can be equal, and the engine decides among those alone.
        std::vector<std::string> narrowed;
        bool asksClasses = false;
        for (const auto& a : compound.m_attrs) {
            if (a.condition != litehtml::select_equal || a.attribute != "class") continue;
            asksClasses = true;
            for (const auto& wanted : a.class_val) {
                auto [from, to] = classIndex().equal_range(key('.', wanted));
                if (from == to) return litehtml::select_no_match;
                for (auto it = from; it != to; ++it) narrowed.push_back(this->m_class_values[it->second]);
            }
        }
        if (!asksClasses) return Base::select(compound, applyPseudo);
        ClassesSwap narrow(*this, narrowed, &narrowed);
        return Base::select(compound, applyPseudo);
    }

    // The parent remembers the answer for all its descendants.
    litehtml::element::ptr find_ancestor(const litehtml::css_selector& selector, bool applyPseudo,
                                         bool* isPseudo) override {
        PassScope pass(*matching_);
        auto parent = this->parent();
        if (!parent) return nullptr;
        const auto found = ancestorOf(*parent, selector, applyPseudo);
        if (!found.first) return nullptr;
        if (isPseudo) *isPseudo = found.second;
        return found.first->shared_from_this();
    }

    litehtml::element::ptr find_adjacent_sibling(const litehtml::element::ptr& el,
                                                 const litehtml::css_selector& selector, bool applyPseudo,
                                                 bool* isPseudo) override {
        PassScope pass(*matching_);
        std::uint32_t pos = 0;
        if (!childPosition(el.get(), pos) || pos == 0) return nullptr;
        const int result = selectChild(pos - 1, selector, applyPseudo);
        if (result == litehtml::select_no_match) return nullptr;
        if (isPseudo) *isPseudo = (result & litehtml::select_match_pseudo_class) != 0;
        return memo_->counted[pos - 1]->shared_from_this();
    }

    // The engine answers the last earlier child that matches. Later children ask in document
    // order, so each child is tried once per selector however many later siblings need the
    // answer, and what is kept is how far the children were tried and the last match; should one
    // ask about a place before that match, the children are tried again from the first.
    litehtml::element::ptr find_sibling(const litehtml::element::ptr& el,
                                        const litehtml::css_selector& selector, bool applyPseudo,
                                        bool* isPseudo) override {
        PassScope pass(*matching_);
        ElementMatching& m = *matching_;
        std::uint32_t pos = 0;
        if (!childIndex()) return nullptr;
        if (!childPosition(el.get(), pos)) pos = std::uint32_t(memo_->counted.size());
        ElementMemo::Scan unkept;
        ElementMemo::Scan* scan = &unkept;
        const auto k = memoKey(&selector, applyPseudo);
        if (auto it = memo_->siblings.find(k); it != memo_->siblings.end())
            scan = &it->second;
        else if (m.remember(*memo_))
            scan = &memo_->siblings[k];
        if (scan->tried > pos && scan->last >= std::int32_t(pos)) *scan = {};
        while (scan->tried < pos) {
            const std::uint32_t i = scan->tried;
            if (!m.spend(1)) return nullptr;
            const int result = selectChild(i, selector, applyPseudo);
            if (result != litehtml::select_no_match) {
                scan->last = std::int32_t(i);
                scan->lastPseudo = (result & litehtml::select_match_pseudo_class) != 0;
            }
            ++scan->tried;
        }
        if (scan->last < 0) return nullptr;
        if (isPseudo) *isPseudo = scan->lastPseudo;
        return memo_->counted[std::size_t(scan->last)]->shared_from_this();
    }

    bool is_nth_child(const litehtml::element::ptr& el, int num, int off, bool ofType) const override {
        PassScope pass(*matching_);
        std::uint32_t pos = 0;
        if (!childPosition(el.get(), pos)) return false;
        int idx = ofType ? int(memo_->typePosition[pos]) : int(pos) + 1;
        return nthMatches(idx, num, off);
    }

    bool is_nth_last_child(const litehtml::element::ptr& el, int num, int off, bool ofType) const override {
        PassScope pass(*matching_);
        std::uint32_t pos = 0;
        if (!childPosition(el.get(), pos)) return false;
        int idx = ofType ? int(typeCount(el.get()) - memo_->typePosition[pos] + 1)
                         : int(memo_->counted.size() - pos);
        return nthMatches(idx, num, off);
    }

    bool is_only_child(const litehtml::element::ptr& el, bool ofType) const override {
        PassScope pass(*matching_);
        if (!childIndex()) return false;
        return (ofType ? typeCount(el.get()) : memo_->counted.size()) <= 1;
    }

    void apply_stylesheet(const litehtml::css& sheet) override {
        ElementMatching& m = *matching_;
        const litehtml::css& full = m.fullSheet(sheet);
        const bool root = m.applyDepth == 0;
        PassScope pass(m);
        m.restyled(this, styleLevel_);
        if (root) m.startStyling(full, *this);
        ++m.applyDepth;
        std::uint64_t kind = 0;
        try {
            kind = styleItself(full, root);
        } catch (...) {
            unwind(root);
            throw;
        }

        // Most elements hold text only: nothing below them is styled.
        if (std::none_of(this->m_children.begin(), this->m_children.end(),
                         [](const litehtml::element::ptr& c) { return isStyledChild(*c); })) {
            unwind(root);
            forget();
            return;
        }
        std::size_t mark = m.pushAncestorKeys(*this);
        m.beginChildren(kind);
        try {
            litehtml::elements_vector snapshot = this->m_children;
            for (const auto& c : snapshot) {
                if (!isStyledChild(*c)) continue;
                if (dynamic_cast<MatchedMixin*>(c.get())) {
                    c->apply_stylesheet(full);
                    continue;
                }
                // An element of the engine's own: it applies what it is given to itself and
                // hands the same to its children, which map it back to the full sheet.
                litehtml::css theirs;
                m.candidates(*c, full, theirs);
                m.pushFiltered(theirs, full);
                std::size_t inner = m.pushAncestorKeys(*c);
                try {
                    c->apply_stylesheet(theirs);
                } catch (...) {
                    m.popAncestorKeys(inner);
                    m.popFiltered();
                    throw;
                }
                m.popAncestorKeys(inner);
                m.popFiltered();
            }
        } catch (...) {
            m.endChildren();
            m.popAncestorKeys(mark);
            unwind(root);
            throw;
        }
        m.endChildren();
        m.popAncestorKeys(mark);
        unwind(root);
        forget();
    }

    // A rule the element meets stores its properties here, within the pass's allowance; past it
    // the rule is dropped, as one past the step budget is.
    void add_style(const litehtml::tstring& declarations, const litehtml::tstring& baseurl) override {
        ElementMatching& m = *matching_;
        if (m.storesNoMore()) return;
        m.restyled(this, styleLevel_);
        const std::size_t before = propertiesOf(this->m_style);
        if (const litehtml::style* parsed = m.parsedDeclarations(declarations, baseurl, *this))
            this->m_style.combine(*parsed);
        else
            Base::add_style(declarations, baseurl);
        m.stored(std::max(propertiesOf(this->m_style), before) - before);
    }

    // The engine refreshes the children first, then tries the element's own rules again.
    void refresh_styles() override {
        PassScope pass(*matching_);
        SubjectScope subject(*matching_, this);
        matching_->restyled(this, styleLevel_);
        Base::refresh_styles();
        history_ = matching_->newHistory();
        forget();
    }
    // Adds the element's own style attribute (and what its kind takes from its attributes) to
    // what the rules gave it.
    void parse_styles(bool isReparse) override {
        ElementMatching& m = *matching_;
        auto parent = this->parent();
        styleLevel_ = m.enterStyles(this, this, parent.get());
        try {
            Base::parse_styles(isReparse);
        } catch (...) {
            m.leaveStyles();
            throw;
        }
        m.leaveStyles();
        history_ = m.newHistory();
    }

    // As the engine's element answers (its own value, else its parent's where the property is
    // inherited or set to "inherit", else `def`), with the answers of the elements above it
    // remembered while styles are read in.
    const litehtml::tchar_t* get_style_property(const litehtml::tchar_t* name, bool inherited,
                                                const litehtml::tchar_t* def) const override {
        const char* found = styleOf(name, inherited);
        return found ? found : def;
    }
    const char* styleOf(const char* name, bool inherited) const override {
        ElementMatching& m = *matching_;
        const char* own = m.ownStyle(this->m_style, name, styleNames());
        if (own ? litehtml::t_strcasecmp(own, "inherit") != 0 : !inherited) return own;
        if (const MatchedMixin* parent = m.styledParent(this, styleLevel_))
            return m.rememberedStyle(styleLevel_ - 1, name, inherited,
                                     [&] { return parent->styleOf(name, inherited); });
        auto parent = this->parent();
        if (!parent) return own;
        return parent->get_style_property(name, inherited, nullptr);
    }

    void set_attr(const litehtml::tchar_t* name, const litehtml::tchar_t* val) override {
        Base::set_attr(name, val);
        classIndex_.reset();
        changed();
    }
    void parse_attributes() override {
        Base::parse_attributes();
        classIndex_.reset();
    }
    bool set_pseudo_class(const litehtml::tchar_t* pclass, bool add) override {
        bool result = Base::set_pseudo_class(pclass, add);
        changed();
        return result;
    }
    bool set_class(const litehtml::tchar_t* pclass, bool add) override {
        bool result = Base::set_class(pclass, add);
        classIndex_.reset();
        changed();
        return result;
    }
    bool appendChild(const litehtml::element::ptr& el) override {
        bool result = Base::appendChild(el);
        changed();
        return result;
    }
    bool removeChild(const litehtml::element::ptr& el) override {
        bool result = Base::removeChild(el);
        changed();
        return result;
    }

  protected:
    // Styles the element (not its children) with the rules of `full` it can meet, or copies the
    // outcome of an alike earlier sibling of the same history.
    std::uint64_t styleItself(const litehtml::css& full, bool root) {
        ElementMatching& m = *matching_;
        const litehtml::element* parent = root ? nullptr : this->parent().get();
        bool copies = false;
        ElementMatching::Kind& kind = m.kindOf(this->m_tag, this->m_attrs, this->m_pseudo_classes, copies);
        copies = copies && !root && !hasGenerated();
        const ElementMatching::Shared& shared = kind.shared;
        auto* source = copies && shared.source ? dynamic_cast<Matched*>(shared.source) : nullptr;
        // A copy costs what the rules cost the source: the strings of their declarations are
        // copied again, as the engine would have copied them.
        if (source && shared.before == history_ && (shared.parent == parent || shared.cousins) &&
            m.spend(shared.steps) && !m.storesNoMore()) {
            m.stored(shared.properties);
            m.noteCopy();
            this->m_style = source->m_style;
            this->m_used_styles.clear();
            this->m_used_styles.reserve(source->m_used_styles.size());
            for (const auto& used : source->m_used_styles)
                this->m_used_styles.push_back(
                    std::make_unique<litehtml::used_selector>(used->m_selector, used->m_used));
            if constexpr (kMarksItself) this->m_pseudo_classes = source->m_pseudo_classes;
            history_ = shared.after;
            return kind.id;
        }

        litehtml::css own;
        std::size_t spent = 0;
        const ElementMatching::Copies rules = m.candidates(*this, full, own, &spent);
        // The engine's pass styles this element and its generated ::before/::after with the
        // rules it can meet; its own children are styled below, each with what it can meet.
        // Generated content sits first (::before) or last (::after) among the children.
        litehtml::elements_vector children;
        children.swap(this->m_children);
        if (!children.empty() && isGenerated(*children.front())) this->m_children.push_back(children.front());
        if (children.size() > 1 && isGenerated(*children.back())) this->m_children.push_back(children.back());
        const bool hadGenerated = !this->m_children.empty();
        m.pushFiltered(own, full);
        const std::uint64_t before = history_;
        const std::size_t storedBefore = m.storedProperties();
        std::size_t generatedBefore = 0;
        for (const auto& c : this->m_children) generatedBefore += propertiesOf(*c);
        try {
            SubjectScope subject(m, this);
            Base::apply_stylesheet(own);
        } catch (...) {
            restoreChildren(children, hadGenerated);
            m.popFiltered();
            throw;
        }
        m.popFiltered();
        std::size_t generatedAfter = 0;
        for (const auto& c : this->m_children) generatedAfter += propertiesOf(*c);
        if (generatedAfter > generatedBefore) m.stored(generatedAfter - generatedBefore);
        restoreChildren(children, hadGenerated);
        history_ = m.newHistory();
        if (copies && rules.siblings && !hasGenerated())
            kind.shared = {this,         parent, before, history_, spent, m.storedProperties() - storedBefore,
                           rules.cousins};
        return kind.id;
    }

    // Generated content sits first (::before) or last (::after) among the children.
    bool hasGenerated() const {
        return !this->m_children.empty() &&
               (isGenerated(*this->m_children.front()) || isGenerated(*this->m_children.back()));
    }

    // The names of the properties the element sets, while it is read in: the engine adds its style
    // attribute to its styles before it reads any, and nothing changes them after without
    // renewing the stamp (see ElementMatching::restyled).
    const ElementMatching::StyleNames* styleNames() const {
        ElementMatching& m = *matching_;
        if (!m.readingIn(this, styleLevel_)) return nullptr;
        const std::uint64_t stamp = m.stampAt(styleLevel_);
        if (styleNamesStamp_ != stamp) {
            styleNames_ = ElementMatching::StyleNames::of(this->m_style);
            styleNamesStamp_ = stamp;
        }
        return &styleNames_;
    }

    // The element's classes by lowercased name (several may differ in case only).
    const std::unordered_multimap<std::string, std::uint32_t>& classIndex() {
        if (!classIndex_) {
            classIndex_ = std::make_unique<std::unordered_multimap<std::string, std::uint32_t>>();
            classIndex_->reserve(this->m_class_values.size());
            for (std::size_t i = 0; i < this->m_class_values.size(); ++i)
                classIndex_->emplace(key('.', this->m_class_values[i]), std::uint32_t(i));
        }
        return *classIndex_;
    }

    void unwind(bool root) {
        --matching_->applyDepth;
        if (root) matching_->endStyling();
    }

    // Puts the children back around what the engine left of the generated ones: ::before first,
    // the element's own children, then ::after.
    void restoreChildren(litehtml::elements_vector& children, bool hadGenerated) {
        if (this->m_children.empty() && !hadGenerated) {
            this->m_children.swap(children);
            return;
        }
        litehtml::elements_vector merged;
        merged.reserve(children.size() + this->m_children.size());
        for (const auto& c : this->m_children)
            if (isBefore(*c)) merged.push_back(c);
        for (const auto& c : children)
            if (!isGenerated(*c)) merged.push_back(c);
        for (const auto& c : this->m_children)
            if (!isBefore(*c)) merged.push_back(c);
        this->m_children.swap(merged);
    }

    // The parent's memo answers (or the engine's own element, which remembers nothing).
    std::pair<litehtml::element*, bool> ancestorOf(litehtml::element& parent,
                                                   const litehtml::css_selector& selector, bool applyPseudo) {
        if (auto* matched = dynamic_cast<MatchedMixin*>(&parent))
            return matched->selfOrAncestor(selector, applyPseudo);
        const int result = parent.select(selector, applyPseudo);
        if (result != litehtml::select_no_match)
            return {&parent, (result & litehtml::select_match_pseudo_class) != 0};
        bool pseudo = false;
        if (auto above = parent.find_ancestor(selector, applyPseudo, &pseudo)) return {above.get(), pseudo};
        return {nullptr, false};
    }

    // A selector asked of the i-th counted child for a later sibling (the index is built).
    int selectChild(std::uint32_t i, const litehtml::css_selector& selector, bool applyPseudo) {
        if (MatchedMixin* matched = memo_->countedMatched[i])
            return matched->selectForSibling(selector, applyPseudo);
        return memo_->counted[i]->select(selector, applyPseudo);
    }

    bool childIndex() const {
        ElementMemo& memo = this->memo();
        if (memo.indexed && memo.indexedCount == this->m_children.size()) return true;
        if (!matching_->spend(this->m_children.size() + 1)) return false;
        memo.counted.clear();
        memo.countedMatched.clear();
        memo.position.clear();
        memo.typePosition.clear();
        memo.typeCount.clear();
        matching_->forgetSiblings(memo);
        for (const auto& c : this->m_children) {
            if (c->get_display() == litehtml::display_inline_text) continue;
            memo.position.emplace(c.get(), std::uint32_t(memo.counted.size()));
            memo.counted.push_back(c.get());
            memo.countedMatched.push_back(dynamic_cast<MatchedMixin*>(c.get()));
            const char* tag = c->get_tagName();
            memo.typePosition.push_back(++memo.typeCount[tag ? tag : ""]);
        }
        memo.indexed = true;
        memo.indexedCount = this->m_children.size();
        return true;
    }

    bool childPosition(const litehtml::element* el, std::uint32_t& pos) const {
        if (!childIndex()) return false;
        auto it = memo_->position.find(el);
        if (it == memo_->position.end()) return false;
        pos = it->second;
        return true;
    }

    std::uint32_t typeCount(const litehtml::element* el) const {
        const char* tag = el->get_tagName();
        auto it = memo_->typeCount.find(tag ? tag : "");
        return it == memo_->typeCount.end() ? 0 : it->second;
    }

    // Puts `other` in the element's place for a scope and back (also when the engine throws).
    // `full` is where the element's own list waits meanwhile, when `other` is a narrowed one.
    class ClassesSwap {
      public:
        ClassesSwap(Matched& el, std::vector<std::string>& other, std::vector<std::string>* full)
            : el_(el), other_(other), saved_(el.fullClasses_) {
            el_.m_class_values.swap(other_);
            el_.fullClasses_ = full;
        }
        ~ClassesSwap() {
            el_.m_class_values.swap(other_);
            el_.fullClasses_ = saved_;
        }
        ClassesSwap(const ClassesSwap&) = delete;
        ClassesSwap& operator=(const ClassesSwap&) = delete;

      private:
        Matched& el_;
        std::vector<std::string>& other_;
        std::vector<std::string>* saved_;
    };

    std::unique_ptr<std::unordered_multimap<std::string, std::uint32_t>> classIndex_;
    mutable ElementMatching::StyleNames styleNames_;
    mutable std::uint64_t styleNamesStamp_ = 0;
    // While a compound is tried on the classes it asks for, the element's own list.
    std::vector<std::string>* fullClasses_ = nullptr;
};

// A list item numbers itself among the items before it once it is laid out in a numbered list,
// as the engine's own list item does. The first item of a list to be laid out numbers every item
// of it in one walk: each counting the items before it would cost the square of a long list.
class MatchedListItem final : public Matched<litehtml::html_tag> {
  public:
    using Matched::Matched;

    int render(int x, int y, int maxWidth, bool secondPass) override {
        if (isNumbered() && !numbered_) {
            if (auto p = parent()) {
                int index = 0;
                for (int i = 0, n = int(p->get_children_count()); i < n; ++i) {
                    auto child = p->get_child(i);
                    if (std::strcmp(child->get_tagName(), "li") != 0) continue;
                    ++index;
                    auto* item = dynamic_cast<MatchedListItem*>(child.get());
                    if (item && !item->numbered_ && item->isNumbered()) item->number(index);
                }
            }
            numbered_ = true;  // also when it has no parent, as the engine's own item
        }
        return html_tag::render(x, y, maxWidth, secondPass);
    }

  private:
    bool isNumbered() const { return m_list_style_type >= litehtml::list_style_type_armenian; }
    void number(int index) {
        set_attr("list_index", std::to_string(index).c_str());
        numbered_ = true;
    }

    bool numbered_ = false;
};

template <class T>
std::shared_ptr<litehtml::element> make(const std::shared_ptr<litehtml::document>& doc,
                                        const std::shared_ptr<ElementMatching>& matching) {
    return std::make_shared<T>(doc, matching);
}

}  // namespace

std::shared_ptr<ElementMatching> makeElementMatching(std::size_t maxStepsPerPass,
                                                     std::size_t maxStoredPropertiesPerPass,
                                                     std::size_t maxRememberedPerPass) {
    return std::make_shared<ElementMatching>(maxStepsPerPass, maxStoredPropertiesPerPass,
                                             maxRememberedPerPass);
}

std::shared_ptr<litehtml::element> createMatchedElement(const char* tag,
                                                        const std::shared_ptr<litehtml::document>& doc,
                                                        const std::shared_ptr<ElementMatching>& matching) {
    if (!tag || !matching) return nullptr;
    using Factory = std::shared_ptr<litehtml::element> (*)(const std::shared_ptr<litehtml::document>&,
                                                           const std::shared_ptr<ElementMatching>&);
    // The engine's own choice of element per tag (kept true by a test): style and script hold
    // text only and match nothing, so theirs are kept.
    static const std::unordered_map<std::string_view, Factory> kinds = {
        {"a", &make<Matched<litehtml::el_anchor>>},    {"base", &make<Matched<litehtml::el_base>>},
        {"body", &make<Matched<litehtml::el_body>>},   {"br", &make<Matched<litehtml::el_break>>},
        {"div", &make<Matched<litehtml::el_div>>},     {"font", &make<Matched<litehtml::el_font>>},
        {"img", &make<Matched<litehtml::el_image>>},   {"li", &make<MatchedListItem>},
        {"link", &make<Matched<litehtml::el_link>>},   {"p", &make<Matched<litehtml::el_para>>},
        {"table", &make<Matched<litehtml::el_table>>}, {"td", &make<Matched<litehtml::el_td>>},
        {"th", &make<Matched<litehtml::el_td>>},       {"title", &make<Matched<litehtml::el_title>>},
        {"tr", &make<Matched<litehtml::el_tr>>},
    };
    if (std::strcmp(tag, "style") == 0 || std::strcmp(tag, "script") == 0) return nullptr;
    if (auto it = kinds.find(tag); it != kinds.end()) return it->second(doc, matching);
    return make<Matched<litehtml::html_tag>>(doc, matching);
}

ElementMatchingStats matchingStats(const ElementMatching& matching) {
    return matching.stats();
}

}  // namespace detail
