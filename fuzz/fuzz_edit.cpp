// fuzz_edit.cpp - a sequence of editing calls decoded from the input: create,
// parse, insert, remove, free, copy, rename, attributes, typed values, write.
// Each result is checked against the documented outcome and every tree's link
// invariants after each step. The sequence keeps to the caller's side of the
// contract (only detached nodes are inserted, storage is never mixed, and no
// node outlives the document whose name cache or pool it uses); the library
// must keep to its side whatever the calls are.
#include <algorithm>
#include <set>

#include "fuzz_support.h"

namespace {

using Node = KEL_XML_NODE;

const char *EmptyAsNull(const char *s) { return s && s[0] ? s : nullptr; }

bool Detached(const Node *n) { return !n->parent && !n->prevSibling && !n->nextSibling; }

bool IsPooledDoc(const Node *n) { return n->isDocument == 1 && n->pool != nullptr; }

Node *RootOf(Node *n) {
    for (; n; n = n->parent)
        if (!n->parent && !n->prevSibling && !n->nextSibling) return n;
    return nullptr;
}

KEL_XML_ATTR *FindAttr(const Node *element, const char *prefix, const char *name) {
    for (KEL_XML_ATTR *a = element->firstAttr; a; a = a->nextSibling)
        if (vxf::SameString(a->prefix, prefix) && vxf::SameString(a->name, name)) return a;
    return nullptr;
}

template <typename F>
void ForSubtree(Node *top, F f) {
    for (const Node *n = top; n; n = vxf::NextInSubtree(n, top)) f(const_cast<Node *>(n));
}

struct World {
    vxf::Reader &in;
    std::vector<Node *> tops;   // every node we own without a parent
    std::vector<Node *> nodes;  // every live node, recomputed after each step

    // ---- Bookkeeping ----------------------------------------------------------
    void Refresh() {
        std::vector<Node *> kept;
        for (Node *t : tops)
            if (t->parent == nullptr && std::find(kept.begin(), kept.end(), t) == kept.end())
                kept.push_back(t);
        tops.swap(kept);
        nodes.clear();
        for (Node *t : tops) ForSubtree(t, [&](Node *n) { nodes.push_back(n); });
    }

    void AddTop(Node *n) { tops.push_back(n); }

    Node *Pick() { return nodes.empty() ? nullptr : nodes[in.Byte() % nodes.size()]; }

    // Where memory for records under `n` comes from (our calls keep trees uniform).
    KEL_XML_POOL *StorageOf(Node *n) {
        Node *root = RootOf(n);
        return root ? root->pool : n->pool;
    }

    // Every cached name points into the cache of a live document.
    void CheckCaches() {
        std::vector<const char *> caches;
        for (Node *n : nodes)
            if (n->isDocument)
                caches.push_back(&reinterpret_cast<KEL_XML_DOC *>(n)->nameCache[0][0]);
        auto cached = [&](const char *name) {
            for (const char *c : caches)
                if (name >= c && name < c + sizeof(KEL_XML_DOC::nameCache)) return true;
            return false;
        };
        for (Node *n : nodes) {
            if (n->name && !n->nameOwned) VXF_CHECK(cached(n->name));
            for (KEL_XML_ATTR *a = n->firstAttr; a; a = a->nextSibling)
                if (a->name && !a->nameOwned) VXF_CHECK(cached(a->name));
        }
    }

    void CheckAll() {
        Refresh();
        for (Node *t : tops) vxf::CheckTree(t, vxf::TreeRules{true, false, true});
        CheckCaches();
    }

    // Does anything in `top` use memory that goes away with the records in `docs`
    // (their name caches) or with the pools in `pools`?
    static bool DependsOn(Node *top, const std::set<Node *> &docs,
                          const std::set<KEL_XML_POOL *> &pools, Node *skip) {
        bool found = false;
        auto uses = [&](const char *name, bool owned) {
            if (!name || owned) return false;
            for (Node *d : docs) {
                const char *c = &reinterpret_cast<KEL_XML_DOC *>(d)->nameCache[0][0];
                if (name >= c && name < c + sizeof(KEL_XML_DOC::nameCache)) return true;
            }
            return false;
        };
        ForSubtree(top, [&](Node *n) {
            if (found || n == skip) return;
            bool inSkip = false;
            for (Node *p = n; p && !inSkip; p = p->parent) inSkip = p == skip;
            if (inSkip) return;
            if (pools.count(n->pool) && !docs.count(n)) found = true;
            if (uses(n->name, n->nameOwned)) found = true;
            for (KEL_XML_ATTR *a = n->firstAttr; a; a = a->nextSibling)
                if (uses(a->name, a->nameOwned) || pools.count(a->pool)) found = true;
        });
        return found;
    }

    // Frees `victim` and, first, every tree that would be left pointing into it.
    void Release(Node *victim) {
        std::set<Node *> docs, doomed;
        std::set<KEL_XML_POOL *> pools;
        auto claim = [&](Node *top) {
            ForSubtree(top, [&](Node *n) {
                if (n->isDocument) docs.insert(n);
            });
            if (IsPooledDoc(top)) pools.insert(top->pool);
        };
        claim(victim);
        Node *victimTop = victim;
        while (victimTop->parent) victimTop = victimTop->parent;
        for (bool changed = true; changed;) {
            changed = false;
            for (Node *t : tops) {
                if (doomed.count(t)) continue;
                Node *skip = (t == victimTop) ? victim : nullptr;
                if (t == victim || !DependsOn(t, docs, pools, skip)) continue;
                doomed.insert(t);
                claim(t);
                changed = true;
            }
        }
        // Pool users first, the pools' documents last.
        std::vector<Node *> order;
        for (Node *t : doomed)
            if (!IsPooledDoc(t)) order.push_back(t);
        if (!doomed.count(victimTop)) order.push_back(victim);
        for (Node *t : doomed)
            if (IsPooledDoc(t)) order.push_back(t);
        for (Node *n : order) {
            if (n == victim || doomed.count(n)) KEL_XML_FreeNode(n);
            tops.erase(std::remove(tops.begin(), tops.end(), n), tops.end());
        }
    }

    void ReleaseAll() {
        Refresh();
        while (!tops.empty()) {
            Release(tops.back());
            Refresh();
        }
    }

    // ---- Operations -----------------------------------------------------------
    void CheckStrings(Node *n, const char *prefix, const char *name, const char *value) {
        VXF_CHECK(vxf::SameString(n->prefix, EmptyAsNull(prefix)));
        VXF_CHECK(vxf::SameString(n->name, EmptyAsNull(name)));
        VXF_CHECK(vxf::SameString(n->value, EmptyAsNull(value)));
    }

    void Create(bool ex) {
        static const int32_t types[] = {0, 12, 0, 12, 1, 2, -1, 13};
        int32_t type = types[in.Byte() % 8];
        KEL_XML_POOL *pool = nullptr;
        if (ex) {
            Node *donor = Pick();
            if (donor && (in.Byte() & 1)) pool = StorageOf(donor);
        }
        std::string p, n, v;
        const char *prefix = in.Arg(p), *name = in.Arg(n), *value = in.Arg(v);
        Node *made = reinterpret_cast<Node *>(uintptr_t{0x5a5a});
        uint32_t result = ex ? KEL_XML_CreateNodeEx(pool, type, prefix, name, value, &made)
                             : KEL_XML_CreateNode(type, prefix, name, value, &made);
        if (type != 0 && type != 12) {
            VXF_CHECK(result == KEL_XML_ERR_INVALID_PARAM);
            VXF_CHECK(made == reinterpret_cast<Node *>(uintptr_t{0x5a5a}));
            return;
        }
        VXF_CHECK(result == 0 && Detached(made) && made->type == type);
        VXF_CHECK(!made->firstChild && !made->firstAttr);
        CheckStrings(made, prefix, name, value);
        if (ex && type == 12)
            VXF_CHECK(made->pool != nullptr && made->pool != pool);
        else
            VXF_CHECK(made->pool == (ex ? pool : nullptr));
        AddTop(made);
    }

    void Parse() {
        std::string text = in.Text();
        Node *doc = nullptr;
        bool ex = in.Byte() & 1;
        uint32_t result =
            ex ? KEL_XML_ParseEx(text.c_str(), &doc) : KEL_XML_Parse(text.c_str(), &doc);
        VXF_CHECK(result == 0 || result == KEL_XML_ERR_SYNTAX ||
                  result == KEL_XML_ERR_INVALID_PARAM);
        if (result == 0) AddTop(doc);
    }

    void SetNode() {
        Node *n = Pick();
        if (!n) return;
        std::string p, m, v;
        const char *prefix = in.Arg(p), *name = in.Arg(m), *value = in.Arg(v);
        const char *before[3] = {n->prefix, n->name, n->value};
        VXF_CHECK(KEL_XML_SetNode(n, prefix, name, value) == 0);
        const char *want[3] = {prefix, name, value};
        const char *now[3] = {n->prefix, n->name, n->value};
        for (int i = 0; i < 3; ++i) {
            if (want[i] == nullptr)
                VXF_CHECK(now[i] == before[i]);
            else if (want[i][0] == '\0')
                VXF_CHECK(now[i] == nullptr);
            else
                VXF_CHECK(now[i] != want[i] && std::strcmp(now[i], want[i]) == 0);
        }
        if (name && name[0]) VXF_CHECK(n->nameOwned == 1);
        if (value && value[0]) VXF_CHECK(n->valueOwned == 1);
    }

    // The four insertions; `kind` 0 first child, 1 last child, 2 next, 3 previous.
    void Insert(int kind) {
        Node *anchor = Pick(), *node = Pick();
        if (!anchor || !node || !Detached(node)) return;
        if (node->pool != StorageOf(anchor) && !IsPooledDoc(node)) return;  // never mix storage
        bool sibling = kind >= 2;
        Node *rootOfAnchor = RootOf(anchor);
        bool refused;
        if (!sibling) {
            refused =
                IsPooledDoc(node) ||
                (anchor->type != KEL_XML_NODE_ELEMENT && anchor->type != KEL_XML_NODE_DOCUMENT) ||
                rootOfAnchor == node;
        } else {
            refused = anchor == node || IsPooledDoc(anchor) || rootOfAnchor == node ||
                      node->isDocument == 1;
        }
        Node *oldFirst = anchor->firstChild, *oldLast = anchor->lastChild;
        Node *oldNext = anchor->nextSibling, *oldPrev = anchor->prevSibling;
        uint32_t result = kind == 0   ? KEL_XML_AddFirstChildNode(anchor, node)
                          : kind == 1 ? KEL_XML_AppendChildNode(anchor, node)
                          : kind == 2 ? KEL_XML_AddNextSiblingNode(anchor, node)
                                      : KEL_XML_AddPrevSiblingNode(anchor, node);
        if (refused) {
            VXF_CHECK(result == KEL_XML_ERR_INVALID_PARAM && Detached(node));
            VXF_CHECK(anchor->firstChild == oldFirst && anchor->lastChild == oldLast);
            return;
        }
        VXF_CHECK(result == (RootOf(anchor) ? 0 : KEL_XML_ERR_INVALID_PARAM));
        switch (kind) {
            case 0:
                VXF_CHECK(anchor->firstChild == node && node->nextSibling == oldFirst);
                break;
            case 1:
                VXF_CHECK(anchor->lastChild == node && node->prevSibling == oldLast);
                break;
            case 2:
                VXF_CHECK(anchor->nextSibling == node && node->nextSibling == oldNext);
                break;
            default:
                VXF_CHECK(anchor->prevSibling == node && node->prevSibling == oldPrev);
                break;
        }
        if (!node->parent && std::find(tops.begin(), tops.end(), node) == tops.end()) AddTop(node);
    }

    void Remove() {
        Node *n = Pick();
        if (!n) return;
        bool detached = Detached(n);
        Node *parent = n->parent, *prev = n->prevSibling, *next = n->nextSibling;
        uint32_t result = KEL_XML_RemoveNode(n);
        VXF_CHECK(result == (detached ? KEL_XML_ERR_INVALID_PARAM : 0));
        VXF_CHECK(Detached(n));
        if (prev) VXF_CHECK(prev->nextSibling == next);
        if (next) VXF_CHECK(next->prevSibling == prev);
        if (parent) VXF_CHECK(parent->firstChild != n && parent->lastChild != n);
        if (!detached) AddTop(n);
    }

    void Free() {
        Node *n = Pick();
        if (!n) return;
        Node *prev = n->prevSibling, *next = n->nextSibling;
        // Detach first so that the release sees exactly the subtree.
        if (!Detached(n)) {
            KEL_XML_RemoveNode(n);
            AddTop(n);
        }
        if (prev) VXF_CHECK(prev->nextSibling == next);
        Release(n);
    }

    void Clone(bool deep) {
        Node *n = Pick();
        if (!n || nodes.size() > 4000) return;
        Node *copy = reinterpret_cast<Node *>(uintptr_t{0x5a5a});
        uint32_t result = deep ? KEL_XML_CloneNode(n, &copy) : KEL_XML_CloneNodeSelf(n, &copy);
        if (!RootOf(n)) {
            VXF_CHECK(result == KEL_XML_ERR_INVALID_PARAM);
            VXF_CHECK(copy == reinterpret_cast<Node *>(uintptr_t{0x5a5a}));
            return;
        }
        VXF_CHECK(result == 0 && Detached(copy) && copy != n);
        VXF_CHECK(copy->type == n->type && copy->isDocument == n->isDocument);
        CheckStrings(copy, n->prefix, n->name, n->value);
        VXF_CHECK(copy->name == nullptr || copy->nameOwned == 1);
        if (!IsPooledDoc(n)) VXF_CHECK(copy->pool == RootOf(n)->pool);
        if (deep) {
            VXF_CHECK(vxf::SameTree(n, copy));
        } else {
            VXF_CHECK(copy->firstChild == nullptr);
        }
        AddTop(copy);
    }

    void AddAttr() {
        Node *n = Pick();
        if (!n) return;
        std::string p, m, v;
        const char *prefix = in.Arg(p), *name = in.Arg(m), *value = in.Arg(v);
        KEL_XML_ATTR *last = n->firstAttr;
        while (last && last->nextSibling) last = last->nextSibling;
        uint32_t expected = !name || !name[0] || !RootOf(n)          ? KEL_XML_ERR_INVALID_PARAM
                            : FindAttr(n, EmptyAsNull(prefix), name) ? KEL_XML_ERR_DUPLICATE
                                                                     : 0;
        VXF_CHECK(KEL_XML_AddAttr(n, prefix, name, value) == expected);
        KEL_XML_ATTR *now = n->firstAttr;
        while (now && now->nextSibling) now = now->nextSibling;
        if (expected != 0) return VXF_CHECK(now == last);
        VXF_CHECK(now != last && now->parent == n);
        VXF_CHECK(vxf::SameString(now->prefix, EmptyAsNull(prefix)));
        VXF_CHECK(vxf::SameString(now->name, name));
        VXF_CHECK(vxf::SameString(now->value, EmptyAsNull(value)));
    }

    void SetAttr() {
        Node *n = Pick();
        if (!n) return;
        std::string p, m, v;
        const char *prefix = in.Arg(p), *name = in.Arg(m), *value = in.Arg(v);
        KEL_XML_ATTR *attr = name ? FindAttr(n, EmptyAsNull(prefix), name) : nullptr;
        uint32_t expected = !name       ? KEL_XML_ERR_INVALID_PARAM
                            : !attr     ? KEL_XML_ERR_NOT_FOUND
                            : RootOf(n) ? 0
                                        : KEL_XML_ERR_INVALID_PARAM;
        VXF_CHECK(KEL_XML_SetAttr(n, prefix, name, value) == expected);
        if (attr) VXF_CHECK(vxf::SameString(attr->value, EmptyAsNull(value)));
    }

    void RemoveAttr() {
        Node *n = Pick();
        if (!n) return;
        std::string p, m;
        const char *prefix = in.Arg(p), *name = in.Arg(m);
        KEL_XML_ATTR *attr = name ? FindAttr(n, EmptyAsNull(prefix), name) : nullptr;
        uint32_t expected = !name ? KEL_XML_ERR_INVALID_PARAM : attr ? 0 : KEL_XML_ERR_NOT_FOUND;
        VXF_CHECK(KEL_XML_RemoveAttr(n, prefix, name) == expected);
        if (attr) VXF_CHECK(FindAttr(n, EmptyAsNull(prefix), name) == nullptr);
    }

    void Typed() {
        Node *n = Pick();
        if (!n) return;
        int32_t type = static_cast<int8_t>(in.Byte()) % 8;
        uint32_t bytes = in.U32();
        std::string m;
        const char *name = in.Arg(m);
        bool valid = type >= 0 && type <= 6;
        if (in.Byte() & 1) {
            uint32_t result = KEL_XML_SetNodeValueEx(n, type, &bytes);
            VXF_CHECK(result == (valid ? 0 : KEL_XML_ERR_INVALID_PARAM));
            return;
        }
        bool exists = name && FindAttr(n, nullptr, name);
        uint32_t result = KEL_XML_SetAttrValueEx(n, nullptr, name, type, &bytes);
        if (!name || !name[0] || !valid) return VXF_CHECK(result == KEL_XML_ERR_INVALID_PARAM);
        if (!exists && !RootOf(n)) return VXF_CHECK(result == KEL_XML_ERR_INVALID_PARAM);
        VXF_CHECK(result == 0 && FindAttr(n, nullptr, name) != nullptr);
    }

    void Write() {
        Node *n = Pick();
        if (!n) return;
        Node *parent = n->parent, *prev = n->prevSibling, *next = n->nextSibling;
        bool nameless = false, emptyName = false;
        ForSubtree(n, [&](Node *m) {
            if (!m->name) nameless = true;
            if (m->name && !m->name[0]) emptyName = true;  // a parsed empty CDATA section
            for (KEL_XML_ATTR *a = m->firstAttr; a; a = a->nextSibling)
                if (!a->name)
                    nameless = true;
                else if (!a->name[0])
                    emptyName = true;
        });
        char *text = nullptr;
        uint32_t result = KEL_XML_Transform(n, &text);
        VXF_CHECK(n->parent == parent && n->prevSibling == prev && n->nextSibling == next);
        if (nameless) {
            VXF_CHECK(result == KEL_XML_ERR_INVALID_PARAM && text == nullptr);
        } else if (emptyName) {
            VXF_CHECK(result == 0 || result == KEL_XML_ERR_INVALID_PARAM);
        } else {
            VXF_CHECK(result == 0 && text && text[0]);
        }
        KEL_XML_FreeMem(text);
    }

    void Walk() {
        Node *n = Pick();
        if (!n) return;
        size_t steps = 0;
        for (Node *m = KEL_XML_Iterator(n); m; m = KEL_XML_Iterator(m))
            VXF_CHECK(++steps <= nodes.size());
        uint32_t count = 0;
        VXF_CHECK(KEL_XML_GetNodeChildNum(n, &count) == 0);
        size_t expected = 0;
        for (Node *c = n->firstChild; c; c = c->nextSibling) ++expected;
        VXF_CHECK(count == expected);
    }

    // Misuse the library must survive: an attribute record where a node or an
    // element belongs, and a node that is still linked given to an insertion.
    void Misuse() {
        std::vector<KEL_XML_ATTR *> attrs;
        for (Node *n : nodes)
            for (KEL_XML_ATTR *a = n->firstAttr; a; a = a->nextSibling) attrs.push_back(a);
        Node *other = Pick();
        uint8_t op = in.Byte();
        if (attrs.empty() || !other) return;
        auto *attr = reinterpret_cast<Node *>(attrs[in.Byte() % attrs.size()]);
        const char *s = nullptr;
        int32_t v = 1;
        uint32_t count = 0;
        KEL_XML_ATTR *handle = nullptr;
        Node *out = nullptr;
        uint32_t result = 0, expected = KEL_XML_ERR_INVALID_PARAM;
        switch (op % 16) {
            case 0:
                result = KEL_XML_AddFirstChildNode(attr, other);
                break;
            case 1:
                result = KEL_XML_AppendChildNode(other, attr);
                break;
            case 2:
                result = KEL_XML_AddNextSiblingNode(attr, other);
                break;
            case 3:
                result = KEL_XML_AddPrevSiblingNode(other, attr);
                break;
            case 4:
                result = KEL_XML_RemoveNode(attr);
                break;
            case 5:
                result = KEL_XML_CloneNode(attr, &out);
                break;
            case 6:
                result = KEL_XML_GetNodeChildNum(attr, &count);
                break;
            case 7:
                result = KEL_XML_AddAttr(attr, nullptr, "n", "v");
                break;
            case 8:
                result = KEL_XML_SetAttr(attr, nullptr, "n", "v");
                break;
            case 9:
                result = KEL_XML_RemoveAttr(attr, nullptr, attr->name ? attr->name : "n");
                break;
            case 10:
                result = KEL_XML_GetNextSiblingAttrEx(attr, &s, &s, &s, &handle);
                break;
            case 11:
                result = KEL_XML_GetAttrValueEx(attr, nullptr, "n", 1, &v);
                break;
            case 12:
                result = KEL_XML_SetAttrValueEx(attr, nullptr, "n", 1, &v);
                break;
            case 13:
                KEL_XML_FreeNode(attr);  // ignored
                result = KEL_XML_ERR_INVALID_PARAM;
                break;
            case 14:
                VXF_CHECK(KEL_XML_Iterator(attr) == nullptr);
                result = KEL_XML_CloneNodeSelf(attr, &out);
                break;
            default: {
                // A linked node is refused by every insertion.
                Node *linked = nullptr;
                for (Node *n : nodes)
                    if (!Detached(n) && n->pool == StorageOf(other)) linked = n;
                if (!linked || linked == other) return;
                Node *parent = linked->parent, *prev = linked->prevSibling,
                     *next = linked->nextSibling;
                result = (op & 16) ? KEL_XML_AppendChildNode(other, linked)
                                   : KEL_XML_AddNextSiblingNode(other, linked);
                VXF_CHECK(linked->parent == parent && linked->prevSibling == prev &&
                          linked->nextSibling == next);
            }
        }
        VXF_CHECK(result == expected);
        VXF_CHECK(out == nullptr);
    }

    void Run() {
        for (int steps = 0; steps < 256 && !in.Empty(); ++steps) {
            Refresh();
            switch (in.Byte() % 21) {
                case 0:
                    Create(false);
                    break;
                case 1:
                    Create(true);
                    break;
                case 2:
                    Parse();
                    break;
                case 3:
                    SetNode();
                    break;
                case 4:
                case 5:
                    Insert(0);
                    break;
                case 6:
                    Insert(1);
                    break;
                case 7:
                    Insert(2);
                    break;
                case 8:
                    Insert(3);
                    break;
                case 9:
                    Remove();
                    break;
                case 10:
                    Free();
                    break;
                case 11:
                    Clone(false);
                    break;
                case 12:
                    Clone(true);
                    break;
                case 13:
                    AddAttr();
                    break;
                case 14:
                    SetAttr();
                    break;
                case 15:
                    RemoveAttr();
                    break;
                case 16:
                    Typed();
                    break;
                case 17:
                    Write();
                    break;
                case 18:
                    Walk();
                    break;
                case 19:
                    Misuse();
                    break;
                default:
                    Create(in.Byte() & 1);
                    break;
            }
            CheckAll();
        }
        ReleaseAll();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    vxf::LeakGuard guard;
    vxf::Reader in(data, size);
    World{in, {}, {}}.Run();
    return 0;
}
