// The condition parser: an operator-precedence parser over the lexer's tokens.
//
// Within one bracket level the parser keeps two stacks, operands and pending
// operators, and makes a node whenever an operator arrives that binds looser
// than the pending one on top; a run of one family (`a AND b AND c`,
// `a < b <= c`, `a + b - c`) stays one pending entry and becomes one node.
// Brackets, lists and calls open a frame of their own on an explicit stack of
// frames instead of a recursive call, so the parser never recurses: nesting
// of any depth costs heap, not C++ stack, and parsing stays linear in the
// length of the text.
//
// NOT binds looser than comparisons (`NOT a = b` is `NOT (a = b)`) and is
// only accepted where a whole boolean operand may stand: `a = NOT b` is an
// error, as in openCypher. Predicates (IS NULL, IN, STARTS WITH, ...) bind
// tighter than comparisons: `a = b IS NULL` tests `b`.
#include "condition.hpp"

#include <algorithm>
#include <optional>

#include "condition_lexer.hpp"
#include "text.hpp"

namespace velarto::core {

namespace {

constexpr std::uint32_t kFailed = UINT32_MAX;

enum Level : int {
    kNone = 0, kOr, kXor, kAnd, kNot, kCompare, kPredicate, kAdditive, kMultiplicative, kPower, kUnary,
};

int infix_level(const Token& token) {
    switch (token.kind) {
    case Tok::Eq: case Tok::Ne: case Tok::Lt: case Tok::Le: case Tok::Gt: case Tok::Ge:
        return kCompare;
    case Tok::Matches: return kPredicate;
    case Tok::Plus: case Tok::Minus: return kAdditive;
    case Tok::Star: case Tok::Slash: case Tok::Percent: return kMultiplicative;
    case Tok::Caret: return kPower;
    case Tok::Word: break;
    default: return kNone;
    }
    switch (token.keyword) {
    case Keyword::Or: return kOr;
    case Keyword::Xor: return kXor;
    case Keyword::And: return kAnd;
    case Keyword::Is: case Keyword::In: case Keyword::Starts: case Keyword::Ends: case Keyword::Contains:
        return kPredicate;
    default: return kNone;
    }
}

Op binary_op(Tok kind) {
    switch (kind) {
    case Tok::Eq: return Op::Eq;
    case Tok::Ne: return Op::Ne;
    case Tok::Lt: return Op::Lt;
    case Tok::Le: return Op::Le;
    case Tok::Gt: return Op::Gt;
    case Tok::Ge: return Op::Ge;
    case Tok::Plus: return Op::Add;
    case Tok::Minus: return Op::Sub;
    case Tok::Star: return Op::Mul;
    case Tok::Slash: return Op::Div;
    case Tok::Caret: return Op::Pow;
    default: return Op::Mod;
    }
}

bool same_name(std::string_view name, std::string_view word) {
    if (name.size() != word.size()) return false;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (lower(name[i]) != lower(word[i])) return false;
    }
    return true;
}

std::optional<Function> function_named(std::string_view word) {
    constexpr auto kCount = static_cast<int>(Function::Collect) + 1;
    for (int i = 0; i < kCount; ++i) {
        auto function = static_cast<Function>(i);
        if (same_name(function_name(function), word)) return function;
    }
    return std::nullopt;
}

std::optional<form::Quantifier> quantifier_named(std::string_view word) {
    for (std::uint8_t q = form::All; q <= form::Single; ++q) {
        if (same_name(quantifier_name(q), word)) return static_cast<form::Quantifier>(q);
    }
    return std::nullopt;
}

class Parser {
public:
    Parser(std::string_view text, bool aggregates_allowed)
        : text_(text), lexer_(text), aggregates_allowed_(aggregates_allowed) {
        current_ = lexer_.next();
    }

    Result<ConditionTree> run() {
        if (peek().kind == Tok::End) return VelartoError::invalid_query("condition is empty");
        std::uint32_t root = expression();
        if (root != kFailed && peek().kind != Tok::End) root = unexpected();
        if (root == kFailed) return std::move(*error_);
        tree_.root = root;
        return std::move(tree_);
    }

    // An expression, then optionally `AS alias`, then the end.
    Result<ResultItem> run_item() {
        if (peek().kind == Tok::End) return VelartoError::invalid_query("expression is empty");
        ResultItem item;
        std::uint32_t root = expression();
        if (root != kFailed && peek().kind == Tok::Word && same_ignoring_case(source(peek()), "as")) {
            advance();
            if (peek().kind == Tok::Word || peek().kind == Tok::Quoted) {
                Token alias = advance();
                item.alias = alias.kind == Tok::Quoted ? alias.value : std::string(source(alias));
            } else {
                root = expected("an alias");
            }
        }
        if (root != kFailed && peek().kind != Tok::End) root = unexpected();
        if (root == kFailed) return std::move(*error_);
        tree_.root = root;
        item.tree = std::move(tree_);
        item.aggregates = saw_aggregate_;
        return item;
    }

private:
    // ------------------------------------------------------------ tokens

    // The current token, or (ahead = 1) the one after it.
    const Token& peek(int ahead = 0) {
        if (ahead == 0) return current_;
        if (!lookahead_) lookahead_ = lexer_.next();
        return *lookahead_;
    }
    Token advance() {
        Token token = std::move(current_);
        if (lookahead_) {
            current_ = std::move(*lookahead_);
            lookahead_.reset();
        } else {
            current_ = lexer_.next();
        }
        return token;
    }
    bool is(Keyword keyword) const { return current_.kind == Tok::Word && current_.keyword == keyword; }
    std::string_view source(const Token& token) const {
        return text_.substr(token.begin, token.end - token.begin);
    }

    // ------------------------------------------------------------ errors

    // A lexical error stands at the token the parser stopped on (or the one
    // after it), so it is the one to report.
    std::uint32_t fail(std::string what, std::size_t column) {
        bool lexical = current_.kind == Tok::Invalid || (lookahead_ && lookahead_->kind == Tok::Invalid);
        error_ = lexical ? lexer_.error() : condition_error(std::move(what), column, text_);
        return kFailed;
    }
    std::uint32_t unexpected() { return fail("unexpected " + describe_token(peek(), text_), peek().column); }
    std::uint32_t expected(const char* what) {
        return fail(std::string("expected ") + what + " but found " + describe_token(peek(), text_), peek().column);
    }
    bool expect(Tok kind, const char* what) {
        if (peek().kind == kind) {
            advance();
            return true;
        }
        expected(what);
        return false;
    }
    bool expect(Keyword keyword, const char* what) {
        if (is(keyword)) {
            advance();
            return true;
        }
        expected(what);
        return false;
    }

    // ------------------------------------------------------------ nodes

    std::uint32_t add(ExprNode node) {
        for (std::uint32_t operand : node.operands) {
            node.height = std::max(node.height, tree_.nodes[operand].height + 1);
        }
        tree_.nodes.push_back(std::move(node));
        return static_cast<std::uint32_t>(tree_.nodes.size() - 1);
    }
    std::uint32_t leaf(ExprKind kind, const Token& token, std::string text = {}) {
        ExprNode node(kind, token.column);
        node.text = std::move(text);
        return add(std::move(node));
    }

    // ------------------------------------------------------------ operators

    // An operator waiting for the rest of its operands: `count` operands of
    // the operand stack belong to it once it is reduced.
    struct Pending {
        ExprKind kind;
        int level;
        std::size_t column;
        std::size_t count;
        std::vector<Op> ops;
        std::vector<std::size_t> columns; // of each infix operator of a run
    };
    struct Stacks {
        std::vector<std::uint32_t> operands;
        std::vector<Pending> pending;
    };

    // A bracket level being read: the whole text, a group, or the parts of a
    // list, a call, an aggregate, a map, an index or slice, a CASE, a list
    // comprehension or a quantifier (whose node collects them). `part` says
    // which part of a CASE, a slice or a comprehension is being read.
    enum class FrameKind { Top, Group, List, Call, Aggregate, Map, Index, Case, Comprehension, Quantifier };
    enum Part : int { kItem, kSubject, kWhen, kThen, kElse, kSource, kPredicate, kProjection, kSliceEnd };
    struct Frame {
        FrameKind kind;
        Stacks stacks;
        ExprNode node{ExprKind::List, 0};
        int part = kItem;
    };

    // The whole text: operands and operators, with brackets as frames.
    std::uint32_t expression() {
        std::vector<Frame> frames;
        frames.push_back(Frame{FrameKind::Top, {}, ExprNode(ExprKind::List, 0)});
        bool need_operand = true;
        while (true) {
            if (need_operand) {
                prefixes(frames.back().stacks);
                std::uint32_t atom_index = kFailed;
                int begun = begin_atom(frames, atom_index);
                if (begun < 0) return kFailed;
                if (begun == 0) {
                    frames.back().stacks.operands.push_back(atom_index);
                    need_operand = false;
                }
                continue;
            }
            Stacks& stacks = frames.back().stacks;
            // Postfix: `value[i]`, `value[a..b]` and `value.key` bind tighter than any operator.
            if (peek().kind == Tok::LBracket) {
                if (!open_index(frames)) return kFailed;
                need_operand = true;
                continue;
            }
            if (peek().kind == Tok::Dot) {
                if (!property_of(stacks.operands.back())) return kFailed;
                continue;
            }
            int level = infix_level(peek());
            if (level != kNone) {
                if (!reduce(stacks, level)) return kFailed;
                bool operand_follows = false;
                if (!infix(stacks, level, operand_follows)) return kFailed;
                need_operand = operand_follows;
                continue;
            }
            if (!reduce(stacks, kNone)) return kFailed;
            std::uint32_t value = stacks.operands.back();
            if (frames.size() == 1) return value;
            int ended = end_item(frames, value);
            if (ended < 0) return kFailed;
            need_operand = ended == 0;
        }
    }

    // Prefix operators. NOT only stands where a whole boolean operand may:
    // first, or after OR, XOR, AND or another NOT.
    void prefixes(Stacks& stacks) {
        while (true) {
            const Pending* awaiting = stacks.pending.empty() ? nullptr : &stacks.pending.back();
            bool logical = !awaiting || awaiting->level <= kNot;
            if (logical && is(Keyword::Not)) {
                stacks.pending.push_back({ExprKind::Not, kNot, advance().column, 1, {}, {}});
            } else if (peek().kind == Tok::Minus) {
                stacks.pending.push_back({ExprKind::Negate, kUnary, advance().column, 1, {}, {}});
            } else {
                return;
            }
        }
    }

    bool at_word(std::string_view lower) { return peek().kind == Tok::Word && same_ignoring_case(source(peek()), lower); }

    // The end of one part of the innermost frame (not the top one): another
    // part follows (0), or the frame closes and its node becomes an operand
    // of the frame around it (1). -1 on failure.
    int end_item(std::vector<Frame>& frames, std::uint32_t value) {
        Frame& frame = frames.back();
        std::uint32_t made = value;
        auto next_part = [&](int part) {
            frame.part = part;
            frame.stacks = Stacks{};
            return 0;
        };
        switch (frame.kind) {
        case FrameKind::Group:
            if (!expect(Tok::RParen, "')'")) return -1;
            frames.pop_back();
            frames.back().stacks.operands.push_back(made);
            return 1;
        case FrameKind::Case:
            frame.node.operands.push_back(value);
            if (frame.part == kWhen) {
                if (!at_word("then")) return expected("'THEN'"), -1;
                advance();
                return next_part(kThen);
            }
            if (at_word("when") && frame.part != kElse) {
                advance();
                return next_part(kWhen);
            }
            if (frame.part == kSubject) return expected("'WHEN'"), -1;
            if (at_word("else") && frame.part == kThen) {
                advance();
                frame.node.form |= form::kElse;
                return next_part(kElse);
            }
            if (!at_word("end")) return expected(frame.part == kElse ? "'END'" : "'WHEN', 'ELSE' or 'END'"), -1;
            advance();
            break;
        case FrameKind::Comprehension:
        case FrameKind::Quantifier: {
            const bool quantifier = frame.kind == FrameKind::Quantifier;
            frame.node.operands.push_back(value);
            if (frame.part == kSource) { // the variable is seen from here on; the list may aggregate
                scopes_.push_back(frame.node.text);
                ++comprehension_depth_;
            }
            if (frame.part == kSource && at_word("where")) {
                advance();
                if (!quantifier) frame.node.form |= form::kWhere; // a quantifier's form names it; WHERE is implied
                return next_part(kPredicate);
            }
            if (quantifier && frame.part == kSource) return expected("'WHERE'"), -1;
            if (!quantifier && frame.part != kProjection && peek().kind == Tok::Pipe) {
                advance();
                frame.node.form |= form::kProjection;
                return next_part(kProjection);
            }
            const char* close_text = quantifier ? "')'"
                                   : frame.part == kSource ? "'WHERE', '|' or ']'"
                                   : frame.part == kPredicate ? "'|' or ']'" : "']'";
            if (!expect(quantifier ? Tok::RParen : Tok::RBracket, close_text)) return -1;
            scopes_.pop_back();
            --comprehension_depth_;
            break;
        }
        case FrameKind::Index:
            frame.node.operands.push_back(value);
            if (frame.part == kItem && peek().kind == Tok::DotDot) {
                advance();
                frame.node.kind = ExprKind::Slice;
                frame.node.form |= form::kFrom;
                if (peek().kind != Tok::RBracket) return next_part(kSliceEnd);
            } else if (frame.part == kSliceEnd) {
                frame.node.form |= form::kTo;
            }
            if (!expect(Tok::RBracket, frame.part == kItem ? "'..' or ']'" : "']'")) return -1;
            break;
        case FrameKind::Map:
            frame.node.operands.push_back(value);
            if (peek().kind == Tok::Comma) {
                advance();
                if (!map_key(frame.node)) return -1;
                return next_part(kItem);
            }
            if (!expect(Tok::RBrace, "',' or '}'")) return -1;
            break;
        default: {
            frame.node.operands.push_back(value);
            if (peek().kind == Tok::Comma) {
                advance();
                return next_part(kItem);
            }
            bool list = frame.kind == FrameKind::List;
            const char* close_text = list ? "',' or ']'" : frame.kind == FrameKind::Call ? "',' or ')'" : "')'";
            if (!expect(list ? Tok::RBracket : Tok::RParen, close_text)) return -1;
            if (frame.kind != FrameKind::List &&
                !arity_fits(frame.node.function, frame.node.operands.size(), frame.node.column)) {
                return -1;
            }
            if (frame.kind == FrameKind::Aggregate) {
                --aggregate_depth_;
                saw_aggregate_ = true;
            }
            break;
        }
        }
        made = add(std::move(frame.node));
        if (made == kFailed) return -1;
        frames.pop_back();
        frames.back().stacks.operands.push_back(made);
        return 1;
    }

    // Makes the nodes of the pending operators that bind tighter than an
    // operator of `level` (kNone: all of them). Predicates associate to the
    // left one by one; the other families collect a whole run into one node.
    bool reduce(Stacks& stacks, int level) {
        while (!stacks.pending.empty()) {
            Pending& top = stacks.pending.back();
            if (top.level < level || (top.level == level && level != kPredicate)) break;
            ExprNode node(top.kind, top.column);
            node.ops = std::move(top.ops);
            node.op_columns = std::move(top.columns);
            node.operands.assign(stacks.operands.end() - static_cast<std::ptrdiff_t>(top.count), stacks.operands.end());
            stacks.operands.resize(stacks.operands.size() - top.count);
            stacks.pending.pop_back();
            std::uint32_t index = add(std::move(node));
            if (index == kFailed) return false;
            stacks.operands.push_back(index);
        }
        return true;
    }

    bool infix(Stacks& stacks, int level, bool& operand_follows) {
        operand_follows = true;
        if (level == kPredicate) return predicate(stacks, operand_follows);
        ExprKind kind = level == kOr ? ExprKind::Or
                      : level == kXor ? ExprKind::Xor
                      : level == kAnd ? ExprKind::And
                      : level == kCompare ? ExprKind::Compare : ExprKind::Arithmetic;
        Token token = advance();
        bool chained = kind == ExprKind::Compare || kind == ExprKind::Arithmetic;
        if (!stacks.pending.empty() && stacks.pending.back().level == level) {
            Pending& run = stacks.pending.back(); // a run of one family: one node
            ++run.count;
            if (chained) run.ops.push_back(binary_op(token.kind));
            run.columns.push_back(token.column);
            return true;
        }
        Pending pending{kind, level, token.column, 2, {}, {token.column}};
        if (chained) pending.ops.push_back(binary_op(token.kind));
        stacks.pending.push_back(std::move(pending));
        return true;
    }

    // IS [NOT] NULL applies at once to the operand before it; IN, STARTS
    // WITH, ENDS WITH, CONTAINS and =~ wait for the operand after them.
    bool predicate(Stacks& stacks, bool& operand_follows) {
        Token token = advance();
        Op op;
        if (token.kind == Tok::Matches) {
            op = Op::Matches;
        } else if (token.keyword == Keyword::Is) {
            bool negated = is(Keyword::Not);
            if (negated) advance();
            if (!expect(Keyword::Null, "'NULL'")) return false;
            ExprNode node(ExprKind::Predicate, token.column);
            node.ops.push_back(negated ? Op::IsNotNull : Op::IsNull);
            node.operands.push_back(stacks.operands.back());
            std::uint32_t index = add(std::move(node));
            if (index == kFailed) return false;
            stacks.operands.back() = index;
            operand_follows = false;
            return true;
        } else if (token.keyword == Keyword::In) {
            op = Op::In;
        } else if (token.keyword == Keyword::Contains) {
            op = Op::Contains;
        } else {
            if (!expect(Keyword::With, "'WITH'")) return false;
            op = token.keyword == Keyword::Starts ? Op::StartsWith : Op::EndsWith;
        }
        stacks.pending.push_back({ExprKind::Predicate, kPredicate, token.column, 2, {op}, {}});
        return true;
    }

    // ------------------------------------------------------------ atoms

    // One atom, or the opening of a frame (a group, a list, a call): 0 with
    // `out` set, 1 when a frame was pushed, -1 on failure.
    int begin_atom(std::vector<Frame>& frames, std::uint32_t& out) {
        switch (peek().kind) {
        case Tok::LParen:
            advance();
            frames.push_back(Frame{FrameKind::Group, {}, ExprNode(ExprKind::List, 0)});
            return 1;
        case Tok::LBracket: return open_list(frames, out);
        case Tok::LBrace: return open_map(frames, out);
        case Tok::Quoted: out = variable(); break;
        case Tok::Integer: case Tok::Float: case Tok::String: out = literal(); break;
        case Tok::Parameter: out = parameter(); break;
        case Tok::Word:
            switch (peek().keyword) {
            case Keyword::True: case Keyword::False: case Keyword::Null: out = literal(); break;
            case Keyword::None:
                // before a call: `CASE (a + b) WHEN ...` has a subject in brackets
                if (at_word("case") && starts_operand(peek(1))) return open_case(frames);
                if (peek(1).kind == Tok::LParen) return open_call(frames, out);
                out = variable();
                break;
            default: out = unexpected(); break;
            }
            break;
        default: out = unexpected(); break;
        }
        return out == kFailed ? -1 : 0;
    }

    // Whether `token` can begin an operand (so that `case` before it opens a CASE
    // rather than naming a variable).
    static bool starts_operand(const Token& token) {
        switch (token.kind) {
        case Tok::Quoted: case Tok::Integer: case Tok::Float: case Tok::String: case Tok::Parameter:
        case Tok::LParen: case Tok::LBracket: case Tok::LBrace:
            return true;
        case Tok::Word:
            return token.keyword == Keyword::None || token.keyword == Keyword::Not || token.keyword == Keyword::True ||
                   token.keyword == Keyword::False || token.keyword == Keyword::Null;
        default: return false;
        }
    }

    // CASE [subject] WHEN ... THEN ... [ELSE ...] END
    int open_case(std::vector<Frame>& frames) {
        ExprNode node(ExprKind::Case, advance().column);
        int part = kSubject;
        if (at_word("when")) {
            advance();
            part = kWhen;
        } else {
            node.form |= form::kSimple;
        }
        frames.push_back(Frame{FrameKind::Case, {}, std::move(node), part});
        return 1;
    }

    // A map literal `{key: value, ...}`; keys are names, backticked names or texts.
    int open_map(std::vector<Frame>& frames, std::uint32_t& out) {
        ExprNode node(ExprKind::Map, advance().column);
        if (peek().kind == Tok::RBrace) {
            advance();
            out = add(std::move(node));
            return out == kFailed ? -1 : 0;
        }
        if (!map_key(node)) return -1;
        frames.push_back(Frame{FrameKind::Map, {}, std::move(node)});
        return 1;
    }

    bool map_key(ExprNode& node) {
        const Token& key = peek();
        if (key.kind != Tok::Word && key.kind != Tok::Quoted && key.kind != Tok::String) {
            expected("a map key");
            return false;
        }
        node.keys.push_back(key.kind == Tok::Word ? std::string(source(key)) : key.value);
        advance();
        return expect(Tok::Colon, "':'");
    }

    // `value[` after an operand: an index or a slice of the operand on top.
    bool open_index(std::vector<Frame>& frames) {
        Stacks& stacks = frames.back().stacks;
        ExprNode node(ExprKind::Index, advance().column);
        node.operands.push_back(stacks.operands.back());
        stacks.operands.pop_back();
        int part = kItem;
        if (peek().kind == Tok::DotDot) { // `value[..b]`
            advance();
            node.kind = ExprKind::Slice;
            part = kSliceEnd;
        }
        frames.push_back(Frame{FrameKind::Index, {}, std::move(node), part});
        return true;
    }

    // `value.key` after an operand that is not a plain variable.
    bool property_of(std::uint32_t& operand) {
        // A number written with a '.' after it (`1.e5`) is a malformed number,
        // not a property read.
        const ExprKind kind = tree_.nodes[operand].kind;
        if (kind == ExprKind::Integer || kind == ExprKind::Float) return unexpected(), false;
        ExprNode node(ExprKind::PropertyOf, advance().column);
        const Token& key = peek();
        if (key.kind != Tok::Word && key.kind != Tok::Quoted) return expected("a property name"), false;
        node.key = key.kind == Tok::Quoted ? key.value : std::string(source(key));
        advance();
        node.operands.push_back(operand);
        operand = add(std::move(node));
        return operand != kFailed;
    }

    std::uint32_t literal() {
        Token token = advance();
        switch (token.kind) {
        case Tok::Integer: return leaf(ExprKind::Integer, token, std::string(source(token)));
        case Tok::Float: return leaf(ExprKind::Float, token, std::string(source(token)));
        case Tok::String: return leaf(ExprKind::String, token, std::move(token.value));
        default: break;
        }
        if (token.keyword == Keyword::Null) return leaf(ExprKind::Null, token);
        std::uint32_t index = leaf(ExprKind::Boolean, token);
        if (index != kFailed) tree_.nodes[index].boolean = token.keyword == Keyword::True;
        return index;
    }

    std::uint32_t parameter() {
        Token token = advance();
        return leaf(ExprKind::Parameter, token, std::move(token.value));
    }

    int open_list(std::vector<Frame>& frames, std::uint32_t& out) {
        ExprNode node(ExprKind::List, advance().column);
        if (peek().kind == Tok::RBracket) {
            advance();
            out = add(std::move(node));
            return out == kFailed ? -1 : 0;
        }
        if (names_local(peek()) && peek(1).kind == Tok::Word && peek(1).keyword == Keyword::In) {
            node.kind = ExprKind::Comprehension;
            open_scope(frames, FrameKind::Comprehension, std::move(node));
            return 1;
        }
        frames.push_back(Frame{FrameKind::List, {}, std::move(node)});
        return 1;
    }

    // `x IN` of a comprehension or a quantifier: a plain or backticked name.
    static bool names_local(const Token& token) {
        return (token.kind == Tok::Word && token.keyword == Keyword::None) || token.kind == Tok::Quoted;
    }

    // At `x IN`: the frame that reads the list, then what sees `x`.
    void open_scope(std::vector<Frame>& frames, FrameKind kind, ExprNode node) {
        Token name = advance();
        node.text = name.kind == Tok::Quoted ? name.value : std::string(source(name));
        node.slot = static_cast<std::uint32_t>(scopes_.size());
        advance(); // IN
        frames.push_back(Frame{kind, {}, std::move(node), kSource});
    }

    // A function call, an aggregate or exists(...), at the function's name.
    int open_call(std::vector<Frame>& frames, std::uint32_t& out) {
        if (same_ignoring_case(source(peek()), "exists")) {
            out = exists();
            return out == kFailed ? -1 : 0;
        }
        if (std::optional<form::Quantifier> quantifier = quantifier_named(source(peek()))) {
            ExprNode node(ExprKind::Quantifier, peek().column);
            node.form = *quantifier;
            advance();
            advance(); // the '('
            if (!names_local(peek()) || peek(1).kind != Tok::Word || peek(1).keyword != Keyword::In) {
                return expected("'variable IN list WHERE predicate'"), -1;
            }
            open_scope(frames, FrameKind::Quantifier, std::move(node));
            return 1;
        }
        std::optional<Function> function = function_named(source(peek()));
        if (!function) return fail("unknown function '" + std::string(source(peek())) + "'", peek().column), -1;
        bool aggregate = is_aggregate(*function);
        ExprNode node(aggregate ? ExprKind::Aggregate : ExprKind::Call, peek().column);
        node.function = *function;
        if (aggregate) {
            std::string called = std::string(function_name(*function)) + "()";
            if (!aggregates_allowed_) return fail("aggregate " + called + " cannot be used in a condition", node.column), -1;
            if (aggregate_depth_ > 0) {
                return fail("aggregate " + called + " cannot stand inside another aggregate", node.column), -1;
            }
            if (comprehension_depth_ > 0) {
                return fail("aggregate " + called + " cannot stand inside a list comprehension or a quantifier",
                            node.column), -1;
            }
        }
        advance();
        advance(); // the '('
        if (aggregate && *function == Function::Count && peek().kind == Tok::Star) {
            advance();
            if (!expect(Tok::RParen, "')'")) return -1;
            saw_aggregate_ = true;
            out = add(std::move(node));
            return out == kFailed ? -1 : 0;
        }
        if (aggregate && peek().kind == Tok::Word && same_ignoring_case(source(peek()), "distinct") &&
            peek(1).kind != Tok::RParen && peek(1).kind != Tok::Comma) {
            advance();
            node.boolean = true;
        }
        if (peek().kind == Tok::RParen) { // no arguments
            advance();
            if (!arity_fits(*function, 0, node.column)) return -1;
            out = add(std::move(node));
            return out == kFailed ? -1 : 0;
        }
        if (aggregate) ++aggregate_depth_;
        frames.push_back(Frame{aggregate ? FrameKind::Aggregate : FrameKind::Call, {}, std::move(node)});
        return 1;
    }

    // exists(<pattern>): the pattern text is kept as written, for the
    // pattern parser.
    std::uint32_t exists() {
        std::size_t column = peek().column;
        advance(); // the word; the '(' is now current and the lexer stands after it
        Token pattern = lexer_.pattern_text();
        if (pattern.kind == Tok::Invalid) {
            current_ = pattern;
            return fail("", column);
        }
        current_ = lexer_.next();
        ExprNode node(ExprKind::Exists, column);
        node.text = std::move(pattern.value);
        node.keys = scopes_; // the comprehension variables it must not read
        return add(std::move(node));
    }

    bool arity_fits(Function function, std::size_t given, std::size_t column) {
        std::string called = std::string(function_name(function)) + "()";
        std::size_t least = 1, most = 1;
        if (!is_aggregate(function)) {
            least = function_row(function).least;
            most = function_row(function).most;
        }
        if (given >= least && given <= most) return true;
        auto count = [](std::size_t n) { return n == 1 ? std::string("one argument") : std::to_string(n) + " arguments"; };
        std::string takes = least == most ? "exactly " + count(least)
                          : most == kMany ? "at least " + count(least)
                          : std::to_string(least) + " or " + count(most);
        std::string was = given == 0 && most == kMany ? "none" : std::to_string(given);
        fail(called + " takes " + takes + " but was given " + was, column);
        return false;
    }

    std::uint32_t variable() {
        const Token& name = advance();
        ExprNode node(ExprKind::Variable, name.column);
        node.text = name.kind == Tok::Quoted ? name.value : std::string(source(name));
        // A comprehension's variable, innermost first; `.key` of it is read as a postfix.
        for (std::size_t slot = scopes_.size(); slot-- > 0;) {
            if (scopes_[slot] != node.text) continue;
            node.kind = ExprKind::Local;
            node.slot = static_cast<std::uint32_t>(slot);
            return add(std::move(node));
        }
        if (peek().kind == Tok::Dot) {
            node.column = advance().column; // a failed property access points at its '.'
            Token key = peek();
            if (key.kind != Tok::Word && key.kind != Tok::Quoted) return expected("a property name");
            advance();
            node.kind = ExprKind::Property;
            node.key = key.kind == Tok::Quoted ? key.value : std::string(source(key));
        }
        return add(std::move(node));
    }

    std::string_view text_;
    ConditionLexer lexer_;
    Token current_{Tok::End, Keyword::None, 0, 0, 0, {}};
    std::optional<Token> lookahead_;
    ConditionTree tree_;
    std::optional<VelartoError> error_;
    bool aggregates_allowed_;
    int aggregate_depth_ = 0;
    int comprehension_depth_ = 0;
    std::vector<std::string> scopes_; // the variables of the comprehensions being read, outermost first
    bool saw_aggregate_ = false;
};

} // namespace

Result<ConditionTree> parse_condition(std::string_view utf8_text) {
    return Parser(utf8_text, false).run();
}

Result<ResultItem> parse_result_item(std::string_view utf8_text) {
    return Parser(utf8_text, true).run_item();
}

// A long text is quoted as the window of kQuoted code points around the
// column, its cut ends marked "...": a message must not carry a megabyte of
// condition.
VelartoError condition_error(std::string what, std::size_t column, std::string_view text) {
    return VelartoError::invalid_query(what + condition_location(column, text));
}

std::string condition_location(std::size_t column, std::string_view text) {
    constexpr std::size_t kQuoted = 80;
    auto offset_of = [&](std::size_t points) { // byte offset of the code point `points` (0-based)
        std::size_t pos = 0;
        for (std::size_t i = 0; i < points && pos < text.size(); ++i) decode_utf8(text, pos);
        return pos;
    };
    std::size_t length = 0;
    for (std::size_t pos = 0; pos < text.size(); ++length) decode_utf8(text, pos);
    std::size_t first = 0; // 0-based code points
    if (length > kQuoted) first = std::min(column > kQuoted / 2 ? column - 1 - kQuoted / 2 : 0, length - kQuoted);
    std::size_t last = std::min(length, first + kQuoted);
    std::string_view rest = text.substr(offset_of(first));
    std::size_t pos = 0;
    for (std::size_t i = first; i < last; ++i) decode_utf8(rest, pos);
    std::string where = " at column " + std::to_string(column) + " in '";
    if (first > 0) where += "...";
    where.append(rest.substr(0, pos));
    if (last < length) where += "...";
    where += '\'';
    return where;
}

} // namespace velarto::core
