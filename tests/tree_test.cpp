// Building, editing, walking and storing trees, driven by the edit scripts under
// tests/data/edit_*.txt (edit_tree.txt lists the commands), and the few checks a
// script cannot express.
#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "support/cases.h"
#include "support/vx_test.h"

namespace {

// "p:name=value[attrs](children)" of a subtree, walked without recursion.
std::string Shape(const KEL_XML_NODE *top) {
    std::string out;
    for (const KEL_XML_NODE *n = top; n != nullptr;) {
        out += (n->prefix ? std::string(n->prefix) + ":" : "") + vxt::Str(n->name);
        if (n->value) out += "=" + std::string(n->value);
        for (const KEL_XML_ATTR *a = n->firstAttr; a; a = a->nextSibling)
            out += std::string(a == n->firstAttr ? "[" : " ") + (a->prefix ? a->prefix : "") +
                   (a->prefix ? ":" : "") + a->name + "=" + vxt::Str(a->value) +
                   (a->nextSibling ? "" : "]");
        if (n->firstChild) {
            out += '(';
            n = n->firstChild;
            continue;
        }
        for (; n != top && n->nextSibling == nullptr; n = n->parent) out += ')';
        if (n == top) break;
        out += ',';
        n = n->nextSibling;
    }
    return out;
}

// "p:n=v" of every attribute in list order, read through the exported walk.
std::string Attrs(KEL_XML_NODE *element) {
    std::string out;
    const char *p, *n, *v;
    uint32_t result = KEL_XML_GetFirstAttr(element, &p, &n, &v);
    for (; result == 0; result = KEL_XML_GetNextSiblingAttr(element, p, n, &p, &n, &v))
        out += (out.empty() ? "" : " ") + (p ? std::string(p) + ":" : "") + n + "=" + vxt::Str(v);
    EXPECT_EQ(result, KEL_XML_ERR_NOT_FOUND);
    return out;
}

std::string Text(const char *p, const char *n, const char *v) {
    return vxt::Str(p) + ":" + vxt::Str(n) + "=" + vxt::Str(v);
}

using Link = uint32_t (*)(KEL_XML_NODE *, KEL_XML_NODE *);
const std::map<std::string, Link> kLinks = {{"first", KEL_XML_AddFirstChildNode},
                                            {"append", KEL_XML_AppendChildNode},
                                            {"next", KEL_XML_AddNextSiblingNode},
                                            {"prev", KEL_XML_AddPrevSiblingNode}};
using Move = KEL_XML_NODE *(*)(KEL_XML_NODE *);
const std::map<std::string, Move> kMoves = {
    {"first", KEL_XML_GetNodeFirstChild},
    {"last", KEL_XML_GetNodeLastChild},
    {"next", KEL_XML_GetNodeNextSibling},
    {"prev", KEL_XML_GetNodePrevSibling},
    {"parent", KEL_XML_GetNodeParent},
    {"iter", KEL_XML_Iterator},
    {"root", [](KEL_XML_NODE *n) { return n ? XmlFindRoot(n) : nullptr; }},
    {"bottom", [](KEL_XML_NODE *n) {
         while (n->firstChild) n = n->firstChild;
         return n;
     }}};

// Runs one script: named nodes live until the next "scenario" line, then every
// top node still held is freed (pooled documents last).
class Script {
public:
    explicit Script(const std::string &file) {
        for (const vxt::Case &c : vxt::ReadCases(file)) {
            at_ = c.where;
            if (c[0] == "scenario")
                Clear();
            else
                Run(c);
        }
        Clear();
    }

private:
    std::map<std::string, std::pair<KEL_XML_NODE *, bool>> nodes_;  // id -> node, is attribute
    std::string at_;
    std::pair<int64_t, int64_t> mark_;

    static const char *S(const std::string &s) { return s == "~" ? nullptr : s.c_str(); }
    static int N(const std::string &s) { return std::stoi(s); }
    KEL_XML_NODE *Node(const std::string &id) {
        if (id == "~") return nullptr;
        if (!nodes_.count(id)) ADD_FAILURE() << at_ << ": no node " << id;
        return nodes_.count(id) ? nodes_[id].first : nullptr;
    }
    // While a "nomemory" command runs, a call whose allocation failed must say so.
    void Expect(uint32_t result, const std::string &code) {
        EXPECT_EQ(result, XmlTestFailureHit() ? KEL_XML_ERR_NO_MEMORY : vxt::Code(code)) << at_;
    }
    // A made node gets the id; a refused one leaves the output alone.
    void Made(const std::string &id, const std::string &code,
              const std::function<uint32_t(KEL_XML_NODE **)> &make) {
        KEL_XML_NODE *out = vxt::kUntouched;
        uint32_t result = make(id == "~" ? nullptr : &out);
        Expect(result, code);
        if (result == 0 && id != "~") nodes_[id] = {out, false};
        if (result != 0) {
            EXPECT_EQ(out, vxt::kUntouched) << at_;
        }
    }
    static bool Within(const KEL_XML_NODE *n, const KEL_XML_NODE *top) {
        if (top->isDocument && top->pool && n->pool == top->pool) return true;
        for (; n; n = n->parent)
            if (n == top) return true;
        return false;
    }
    void Free(KEL_XML_NODE *top) {
        for (auto it = nodes_.begin(); top && it != nodes_.end();)
            it = Within(it->second.first, top) ? nodes_.erase(it) : std::next(it);
        KEL_XML_FreeNode(top);
    }
    void Clear() {
        std::set<KEL_XML_NODE *> tops, pools;
        for (auto &[id, node] : nodes_)
            if (!node.second && !node.first->parent)
                (node.first->isDocument && node.first->pool ? pools : tops).insert(node.first);
        for (KEL_XML_NODE *n : tops) KEL_XML_FreeNode(n);
        for (KEL_XML_NODE *n : pools) KEL_XML_FreeNode(n);
        nodes_.clear();
    }
    void Run(const vxt::Case &c);
};

void Script::Run(const vxt::Case &c) {
    const std::string &op = c[0];
    const char *p = "-", *n = "-", *v = "-";  // "-": not written
    KEL_XML_NODE *a = op == "new" || op == "newin" || op == "mark" || op == "blocks" ||
                              op == "calls" || op == "parse" || op == "deep"
                          ? nullptr
                          : Node(c[1]);
    if (op == "new") {  // id type prefix name value code
        Made(c[1], c[6], [&](KEL_XML_NODE **out) {
            return KEL_XML_CreateNode(N(c[2]), S(c[3]), S(c[4]), S(c[5]), out);
        });
    } else if (op == "newin") {  // id pool-of type prefix name value code: CreateNodeEx
        KEL_XML_NODE *owner = Node(c[2]);
        Made(c[1], c[7], [&](KEL_XML_NODE **out) {
            return KEL_XML_CreateNodeEx(owner ? owner->pool : nullptr, N(c[3]), S(c[4]), S(c[5]),
                                        S(c[6]), out);
        });
    } else if (kLinks.count(op)) {  // a b code
        Expect(kLinks.at(op)(a, Node(c[2])), c[3]);
    } else if (op == "clone" || op == "cloneself") {  // a id code
        Made(c[2], c[3], [&](KEL_XML_NODE **out) {
            return (op == "clone" ? KEL_XML_CloneNode : KEL_XML_CloneNodeSelf)(a, out);
        });
    } else if (op == "remove") {  // a code
        Expect(KEL_XML_RemoveNode(a), c[2]);
    } else if (op == "free") {  // a
        Free(a);
    } else if (op == "set") {  // a prefix name value code
        Expect(KEL_XML_SetNode(a, S(c[2]), S(c[3]), S(c[4])), c[5]);
    } else if (op == "addattr" || op == "setattr") {  // a prefix name value code
        Expect((op == "addattr" ? KEL_XML_AddAttr : KEL_XML_SetAttr)(a, S(c[2]), S(c[3]), S(c[4])),
               c[5]);
    } else if (op == "rmattr") {  // a prefix name code
        Expect(KEL_XML_RemoveAttr(a, S(c[2]), S(c[3])), c[4]);
    } else if (op == "getattr") {  // a prefix name value code
        Expect(KEL_XML_GetAttr(a, S(c[2]), S(c[3]), &v), c[5]);
        EXPECT_EQ(vxt::Str(v), c[4]) << at_;
    } else if (op == "nextattr") {  // a prefix name p:n=v code
        Expect(KEL_XML_GetNextSiblingAttr(a, S(c[2]), S(c[3]), &p, &n, &v), c[5]);
        EXPECT_EQ(Text(p, n, v), c[4]) << at_;
    } else if (op == "cursor") {  // a calls seen: first (first0: no handle) and next of the Ex walk
        KEL_XML_ATTR *h = nullptr;
        std::string seen;
        std::istringstream calls(c[2]);
        for (std::string call; calls >> call;) {
            uint32_t result = call == "next" ? KEL_XML_GetNextSiblingAttrEx(a, &p, &n, &v, &h)
                                             : KEL_XML_GetFirstAttrEx(
                                                   a, &p, &n, &v, call == "first" ? &h : nullptr);
            seen += (seen.empty() ? "" : " ") + std::string(result ? "end:" : "") + Text(p, n, v);
            EXPECT_TRUE(call == "first0" || (h == nullptr) == (result != 0)) << at_;
        }
        EXPECT_EQ(seen, c[3]) << at_;
    } else if (op == "setval") {  // a type number code; the variable is the number's low bytes
        int64_t number = std::stoll(c[3]);
        Expect(KEL_XML_SetNodeValueEx(a, N(c[2]), &number), c[4]);
    } else if (op == "setattrval") {  // a prefix name type number code
        int64_t number = std::stoll(c[5]);
        Expect(KEL_XML_SetAttrValueEx(a, S(c[2]), S(c[3]), N(c[4]), &number), c[6]);
    } else if (op == "getval" || op == "getattrval") {  // a [prefix name] type number code
        const int at = op == "getval" ? 2 : 4;  // where the type is; only its width is written
        // The variable starts as a pattern: a refusal leaves it whole, a read changes only
        // the type's width.
        constexpr int64_t kPattern = 0x5A5A5A5A5A5A5A5A;
        int64_t read = kPattern, expected = kPattern;
        int64_t number = c[at + 2] == "ok" ? std::stoll(c[at + 1]) : 0;
        Expect(op == "getval" ? KEL_XML_GetNodeValueEx(a, N(c[2]), &read)
                              : KEL_XML_GetAttrValueEx(a, S(c[2]), S(c[3]), N(c[4]), &read),
               c[at + 2]);
        if (c[at + 2] == "ok") std::memcpy(&expected, &number, "\4\4\4\2\2\1\1"[N(c[at])]);
        EXPECT_EQ(read, expected) << at_;
    } else if (op == "parse" || op == "deep") {  // id heap|pool text|levels code
        std::string open, close;                 // deep: LEVELS nested <d> around x
        for (int i = op == "deep" ? N(c[3]) : 0; i > 0; --i) open += "<d>", close += "</d>";
        const std::string text = op == "deep" ? open + "x" + close : c[3];
        Made(c[1], c[4],
             [&](KEL_XML_NODE **out) { return vxt::Parser(c[2] == "pool")(text.c_str(), out); });
    } else if (op == "write") {  // a text: the writer's text, or "error <code>"
        EXPECT_EQ(vxt::Written(a), c[2]) << at_;
    } else if (op == "url") {  // a path id code: the node found is ID (named when new)
        KEL_XML_NODE *found = vxt::kUntouched;
        uint32_t result = KEL_XML_GetNodeByUrl(a, S(c[2]), c[3] == "~" ? nullptr : &found);
        Expect(result, c[4]);
        if (result != 0) {
            EXPECT_EQ(found, vxt::kUntouched) << at_;
        } else if (nodes_.count(c[3])) {
            EXPECT_EQ(found, Node(c[3])) << at_;
        } else {
            nodes_[c[3]] = {found, false};
        }
    } else if (op == "nomemory") {  // root shape command...: see edit_tree.txt
        const vxt::Case inner{c.where, {c.fields.begin() + 3, c.fields.end()}};
        const std::string before = a ? Shape(a) : "";
        int failures = vxt::ForEachAllocFailure([&] { return Run(inner), 0u; },
                                                [&](uint32_t, uint64_t nth) {
                                                    if (!a) return;
                                                    EXPECT_EQ(Shape(a), c[2] == "=" ? before : c[2])
                                                        << at_ << " allocation " << nth;
                                                    EXPECT_EQ(vxt::CheckLinks(a), "") << at_;
                                                });
        EXPECT_GT(failures, 0) << at_ << ": nothing allocated";
    } else if (op == "fillpool") {  // a: its pool's free room used up
        for (KEL_XML_POOL_BLOCK *block = a->pool; block; block = block->next)
            if ((block->remaining & ~7) > 0) XmlPoolAlloc(a->pool, block->remaining & ~7);
    } else if (op == "same") {  // a b: equal shapes
        EXPECT_EQ(Shape(a), Shape(Node(c[2]))) << at_;
    } else if (op == "attrnode") {  // element index id: names an attribute record
        KEL_XML_ATTR *attr = a->firstAttr;
        for (int i = N(c[2]); i > 0 && attr; --i) attr = attr->nextSibling;
        nodes_[c[3]] = {reinterpret_cast<KEL_XML_NODE *>(attr), true};
    } else if (op == "tree") {  // a shape: also checks the links of its whole tree
        EXPECT_EQ(Shape(a), c[2]) << at_;
        while (a->parent) a = a->parent;
        EXPECT_EQ(vxt::CheckLinks(a), "") << at_;
    } else if (op == "attrs") {  // a list
        EXPECT_EQ(Attrs(a), c[2]) << at_;
    } else if (op == "step") {  // a move expected-id
        EXPECT_EQ(kMoves.at(c[2])(a), Node(c[3])) << at_;
    } else if (op == "pick") {  // a move id: names where the move leads
        nodes_[c[3]] = {kMoves.at(c[2])(a), false};
        EXPECT_NE(nodes_[c[3]].first, nullptr) << at_;
    } else if (op == "count") {  // a count code
        uint32_t count = 99;
        Expect(KEL_XML_GetNodeChildNum(a, &count), c[3]);
        EXPECT_EQ(count, static_cast<uint32_t>(N(c[2]))) << at_;
    } else if (op == "value") {  // a "type p:n=v" code
        int32_t type = -5;
        Expect(KEL_XML_GetNodeValue(a, &type, &p, &n, &v), c[3]);
        EXPECT_EQ(std::to_string(type) + " " + Text(p, n, v), c[2]) << at_;
    } else if (op == "is") {  // a doc|pooled|owned|valueowned 0|1
        int is = c[2] == "doc"      ? a->isDocument
                 : c[2] == "pooled" ? a->pool != nullptr
                 : c[2] == "owned"  ? a->nameOwned
                                    : a->valueOwned;
        EXPECT_EQ(is, N(c[3])) << at_ << " " << c[2];
    } else if (op == "samepool") {  // a b 0|1
        EXPECT_EQ(a->pool == Node(c[2])->pool, N(c[3]) == 1) << at_;
    } else if (op == "slot") {  // a doc slot: where a's name is in doc's cache, -1: not there
        int slot = -1;
        for (int i = 0; i < 10; ++i)
            if (a->name == AsDoc(Node(c[2]))->nameCache[i]) slot = i;
        EXPECT_EQ(slot, N(c[3])) << at_;
    } else if (op == "cache") {  // doc names: the used slots in order
        std::string names;
        for (auto &slot : AsDoc(a)->nameCache)
            if (slot[0]) names += (names.empty() ? "" : ",") + std::string(slot);
        EXPECT_EQ(names, c[2]) << at_;
    } else if (op == "mark") {  // counts heap blocks and allocation calls from here
        mark_ = {XmlTestLiveBlocks(), XmlTestAllocCalls()};
    } else if (op == "blocks" || op == "calls") {  // n: heap blocks taken, allocations tried
        EXPECT_EQ((op == "blocks" ? XmlTestLiveBlocks() : int64_t(XmlTestAllocCalls())) -
                      (op == "blocks" ? mark_.first : mark_.second),
                  N(c[1]))
            << at_;
    } else {
        ADD_FAILURE() << at_ << ": unknown command " << op;
    }
}

TEST(Tree, EditScript) { Script("edit_tree.txt"); }
TEST(Attr, EditScript) { Script("edit_attr.txt"); }
TEST(Nav, EditScript) { Script("edit_nav.txt"); }
TEST(Storage, EditScript) { Script("edit_storage.txt"); }
TEST(Transform, EditScript) { Script("edit_write.txt"); }
TEST(Hostile, EditsOfTheDeepestOfAMillionLevels) { Script("edit_deep.txt"); }
TEST(AllocFailure, EditScript) { Script("edit_nomemory.txt"); }

}  // namespace
