// The schema reader (text to tree) and the two matchers (tree against type).
//
// The reader mirrors the text walk step by step, but on pieces of the one
// original text: every text the walk ever looks at is either a trimmed piece
// of the pattern, or `$` + a trimmed piece + `$` (a re-wrapped side or
// sub-pattern). So a task is a span of the original text plus one bit saying
// whether it stands for itself ("top") or for its re-wrapped form. The
// re-wrapped form is never built; each step is restated for it instead (see
// read_wrapped).
//
// All texts are UTF-8, and every character the walk cares about (`$ ( ) : - >
// *`) is ASCII, which never occurs inside a multi-byte sequence, so the walk
// can look at bytes. Only trimming needs to decode, and it only looks at the
// characters it removes plus one.
#include "schema.hpp"

#include <algorithm>
#include <limits>

#include "text.hpp"

namespace velarto::core {

// Named rather than anonymous: SchemaReader, declared in the header, holds these.
namespace schema_reading {

struct Span {
    std::size_t begin, end;
    std::size_t size() const { return end - begin; }
};

// Answers, in constant time, the questions the reader asks of a span. Built in
// two passes over the text. Positions are stored as `Pos` (32 bits for any
// text below 4 GiB) to keep the tables small; "none" is the text's length.
template <class Pos>
class Lookups {
public:
    explicit Lookups(std::string_view text);

    bool has_arrow(Span s) const { return next_arrow_[s.begin] + std::size_t{2} <= s.end; }
    bool has_colon_or_open(Span s) const {
        return std::min(next_colon_[s.begin], next_open_[s.begin]) < s.end;
    }
    // The first `:` in the span, or s.end.
    std::size_t first_colon(Span s) const { return std::min<std::size_t>(next_colon_[s.begin], s.end); }
    // The first `-` that is followed by `>` inside the span while the paren
    // count, started at 0 at s.begin, is 0; or s.end when there is none.
    std::size_t split_point(Span s) const {
        std::size_t at = level_arrow_[s.begin];
        return at + 2 <= s.end ? at : s.end;
    }

private:
    // next_x_[i]: the first position >= i holding x. level_arrow_[i]: the
    // first arrow at or after i whose paren count (from the start of the
    // text) equals the count at i, that is, relative depth 0 from i.
    std::vector<Pos> next_arrow_, next_colon_, next_open_, level_arrow_;
};

int paren_step(char c) { return c == '(' ? 1 : c == ')' ? -1 : 0; }

template <class Pos>
Lookups<Pos>::Lookups(std::string_view text) {
    const std::size_t n = text.size();
    auto is_arrow = [&](std::size_t i) { return text[i] == '-' && i + 1 < n && text[i + 1] == '>'; };

    // Forward pass: the range of the paren count, which may go negative.
    std::ptrdiff_t depth = 0, lowest = 0, highest = 0;
    for (char c : text) {
        depth += paren_step(c);
        lowest = std::min(lowest, depth);
        highest = std::max(highest, depth);
    }

    // Backward pass: depth becomes the count before position i; `latest`
    // holds, per count, the nearest arrow seen so far at that count.
    const Pos none = static_cast<Pos>(n);
    next_arrow_.assign(n + 1, none);
    next_colon_.assign(n + 1, none);
    next_open_.assign(n + 1, none);
    level_arrow_.assign(n + 1, none);
    std::vector<Pos> latest(static_cast<std::size_t>(highest - lowest) + 1, none);
    for (std::size_t i = n; i-- > 0;) {
        depth -= paren_step(text[i]);
        const Pos here = static_cast<Pos>(i);
        Pos& nearest = latest[static_cast<std::size_t>(depth - lowest)];
        if (is_arrow(i)) nearest = here;
        next_arrow_[i] = is_arrow(i) ? here : next_arrow_[i + 1];
        next_colon_[i] = text[i] == ':' ? here : next_colon_[i + 1];
        next_open_[i] = text[i] == '(' ? here : next_open_[i + 1];
        level_arrow_[i] = nearest;
    }
}

} // namespace schema_reading

using schema_reading::Lookups;
using schema_reading::Span;

// Reads one text into a CompiledSchema. Tasks wait on an explicit stack; each
// fills in the node reserved for it and reserves nodes for its children.
template <class Pos>
class SchemaReader {
public:
    explicit SchemaReader(CompiledSchema& out) : out_(out), text_(out.text_), look_(text_) {}

    void run() {
        reserve_node();
        tasks_.push_back({0, trimmed({0, text_.size()}), false});
        while (!tasks_.empty()) {
            Task task = tasks_.back();
            tasks_.pop_back();
            if (task.wrapped) {
                read_wrapped(task.node, task.span);
            } else {
                read_top(task.node, task.span);
            }
        }
    }

private:
    using Op = CompiledSchema::Op;
    struct Task {
        std::size_t node;
        Span span;
        bool wrapped;  // stands for `$` + span + `$`
    };

    char at(std::size_t i) const { return text_[i]; }
    bool is(Span s, std::string_view literal) const {
        return text_.substr(s.begin, s.size()) == literal;
    }
    bool begins_ends(Span s, char first, char last) const {
        return s.size() >= 2 && at(s.begin) == first && at(s.end - 1) == last;
    }
    Span trimmed(Span s) const {
        std::string_view piece = trim(text_.substr(s.begin, s.size()));
        std::size_t begin = static_cast<std::size_t>(piece.data() - text_.data());
        return {begin, begin + piece.size()};
    }

    std::size_t reserve_node() {
        out_.nodes_.emplace_back();
        return out_.nodes_.size() - 1;
    }
    void set(std::size_t node, Op op, Span text = {0, 0}) {
        CompiledSchema::Node& n = out_.nodes_[node];
        n.op = op;
        n.begin = text.begin;
        n.length = text.size();
    }

    // The text t as given, already trimmed: the whole pattern.
    void read_top(std::size_t node, Span t) {
        if (is(t, "$*$")) return set(node, Op::Always);
        // begins_ends asks for two characters: a lone `$` is no delimited
        // form (there is nothing between its delimiters) and ends up as a
        // plain name below, matching only the variable named `$`.
        const bool delimited = begins_ends(t, '$', '$');
        const Span inner{t.begin + (delimited ? 1 : 0), t.end - (delimited ? 1 : 0)};
        if (delimited && !look_.has_arrow(t) && !look_.has_colon_or_open(t)) {
            return set(node, is(inner, "*") ? Op::Always : Op::Name, inner);
        }
        // "$(" and ")$" cannot overlap, so such a text has at least four characters.
        if (delimited && begins_ends(inner, '(', ')')) {
            return read_group(node, {t.begin + 2, t.end - 2});
        }
        if (!look_.has_arrow(t)) return set(node, Op::Name, t);
        Span body = inner;
        if (begins_ends(body, '(', ')')) body = {body.begin + 1, body.end - 1};
        read_arrow(node, body);
    }

    // The text `$` + x + `$`, x trimmed. The steps, restated for that text:
    // it is the wildcard when x is `*`; it contains `->`, `:` or `(` exactly
    // when x does; it is a group when x begins with `(` and ends with `)`; and
    // its arrow body is x itself, never parenthesised, since such an x was
    // taken as a group.
    void read_wrapped(std::size_t node, Span x) {
        if (is(x, "*")) return set(node, Op::Always);
        const bool arrow = look_.has_arrow(x);
        if (!arrow && !look_.has_colon_or_open(x)) return set(node, Op::Name, x);
        if (begins_ends(x, '(', ')')) return read_group(node, {x.begin + 1, x.end - 1});
        // A plain name that keeps its delimiters: compared as `$x$`.
        if (!arrow) return set(node, Op::WrappedName, x);
        read_arrow(node, x);
    }

    // The text between `$(` and `)$`: name, first `:`, sub-pattern.
    void read_group(std::size_t node, Span body) {
        const std::size_t colon = look_.first_colon(body);
        if (colon == body.end) return set(node, Op::Never);
        const std::size_t child = reserve_node();
        set(node, Op::Capture, trimmed({body.begin, colon}));
        out_.nodes_[node].first = child;
        tasks_.push_back({child, trimmed({colon + 1, body.end}), true});
    }

    // Split at the first depth-0 arrow; both sides are trimmed and re-wrapped.
    void read_arrow(std::size_t node, Span body) {
        const std::size_t split = look_.split_point(body);
        if (split == body.end) return set(node, Op::Never);
        const std::size_t left = reserve_node();
        const std::size_t right = reserve_node();
        set(node, Op::Arrow);
        out_.nodes_[node].first = left;
        out_.nodes_[node].second = right;
        // Pushed right first so that the left side is read first; the order
        // does not change the tree, only which node indices each side gets.
        tasks_.push_back({right, trimmed({split + 2, body.end}), true});
        tasks_.push_back({left, trimmed({body.begin, split}), true});
    }

    CompiledSchema& out_;
    std::string_view text_;
    Lookups<Pos> look_;
    std::vector<Task> tasks_;
};

std::shared_ptr<const CompiledSchema> CompiledSchema::compile(std::string_view text) {
    std::shared_ptr<CompiledSchema> schema(new CompiledSchema);
    schema->text_.assign(text);
    if (text.size() < std::numeric_limits<std::uint32_t>::max()) {
        SchemaReader<std::uint32_t>(*schema).run();
    } else {
        SchemaReader<std::uint64_t>(*schema).run();
    }
    schema->nodes_.shrink_to_fit();
    schema->find_exact_type();
    return schema;
}

// A schema of names and arrows only accepts exactly one type. Knowing it lets
// a match compare the type's kept digest (equal digests are equal types)
// instead of walking the type, whose parts may lie anywhere in memory.
void CompiledSchema::find_exact_type() {
    // Children have larger indices than their parent: build from the back.
    std::vector<TypeRef> built(nodes_.size());
    for (std::size_t i = nodes_.size(); i-- > 0;) {
        const Node& node = nodes_[i];
        if (node.op == Op::Name) {
            built[i] = TypeRef::variable(std::string(text_of(node)));
        } else if (node.op == Op::WrappedName) {
            // Appended piece by piece: `"$" + std::string(...)` trips a false
            // -Wrestrict in GCC 12 at -O3.
            std::string name;
            name.reserve(node.length + 2);
            name.append(1, '$').append(text_of(node)).append(1, '$');
            built[i] = TypeRef::variable(std::move(name));
        } else if (node.op == Op::Arrow && built[node.first] && built[node.second]) {
            built[i] = TypeRef::application(built[node.first], built[node.second]);
        }
    }
    if (!nodes_.empty()) exact_ = built[0];
}

// ---------------------------------------------------------------------------
// Matching

namespace {

// A stack kept in place while small; deep patterns spill to the heap. Most
// schemas have a handful of arrows, so the common match allocates nothing.
template <class T, std::size_t N = 32>
class SmallStack {
public:
    bool empty() const { return size_ == 0; }
    void push(const T& item) {
        if (size_ < N) {
            local_[size_] = item;
        } else {
            spilled_.push_back(item);
        }
        ++size_;
    }
    T pop() {
        --size_;
        if (size_ < N) return local_[size_];
        T item = spilled_.back();
        spilled_.pop_back();
        return item;
    }

private:
    T local_[N];
    std::size_t size_ = 0;
    std::vector<T> spilled_;
};

} // namespace

bool CompiledSchema::accepts_leaf(const Node& node, const TypeNode& type) const {
    switch (node.op) {
    case Op::Always:
        return true;
    case Op::Name:
        return type.is_variable() && type.name() == text_of(node);
    case Op::WrappedName: {
        if (!type.is_variable()) return false;
        const std::string& name = type.name();
        return name.size() == node.length + 2 && name.front() == '$' && name.back() == '$' &&
               std::string_view(name).substr(1, node.length) == text_of(node);
    }
    default:
        return false;
    }
}

bool CompiledSchema::matches(const TypeNode& type) const {
    if (exact_ && type.has_digest()) return same_digest(type.digest(), exact_->digest());
    // Follow left sides and group children directly; park right sides.
    struct Pending {
        std::size_t node;
        const TypeNode* type;
    };
    SmallStack<Pending> pending;
    std::size_t at = 0;
    const TypeNode* current = &type;
    for (;;) {
        const Node& node = nodes_[at];
        if (node.op == Op::Capture) {
            at = node.first;
            continue;
        }
        if (node.op == Op::Arrow) {
            if (!current->is_application()) return false;
            pending.push({node.second, current->right().get()});
            at = node.first;
            current = current->left().get();
            continue;
        }
        if (!accepts_leaf(node, *current)) return false;
        if (pending.empty()) return true;
        const Pending next = pending.pop();
        at = next.node;
        current = next.type;
    }
}

bool CompiledSchema::capture(const TypeRef& type, std::vector<Capture>& out) const {
    out.clear();
    if (!type) return false;
    // A group is recorded after its child has been matched (post-order): its
    // record waits on the stack beneath the child.
    struct Step {
        std::size_t node;
        const TypeRef* type;
        bool record;
    };
    SmallStack<Step> steps;
    steps.push({0, &type, false});
    while (!steps.empty()) {
        const Step step = steps.pop();
        const Node& node = nodes_[step.node];
        if (step.record) {
            out.push_back({std::string(text_of(node)), *step.type});
            continue;
        }
        const TypeNode& current = **step.type;
        if (node.op == Op::Capture) {
            steps.push({step.node, step.type, true});
            steps.push({node.first, step.type, false});
        } else if (node.op == Op::Arrow && current.is_application()) {
            steps.push({node.second, &current.right(), false});
            steps.push({node.first, &current.left(), false});
        } else if (!accepts_leaf(node, current)) {  // an Arrow on a variable lands here too
            out.clear();
            return false;
        }
    }
    return true;
}

} // namespace velarto::core
