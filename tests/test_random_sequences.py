"""Long seeded random sequences of constructions, updates and queries, checking the graph after every step."""

import random
import unittest

import util
import orvek_engine
import velmark

ROLES = ["admin", "root", "public", "ann", "bob", "cy", "dee", "ghost"]
PAIRS = [("*", "*"), ("doc", "read"), ("doc", "write"), ("page", "view")]
UPDATES = ["add_role_permissions", "set_role_permissions", "add_role_sub_roles", "set_role_sub_roles"]


class HookedDoc(util.CountingDoc):
    """Walks through a Python override, so the per-node path is exercised too."""

    def _dfs(self, start, discovered):
        return super()._dfs(start, discovered)


def reaches(dag, start, goal):
    """True when role `goal` can be reached from role `start` over containments alone."""
    seen, pending = set(), [start]
    while pending:
        node = pending.pop()
        seen.add(node)
        pending.extend(n for n in dag.get(node, ()) if isinstance(n, str) and n not in seen)
    return goal in seen


def spelling(test, rng):
    """Gives a str as it is, or as an equal one that is another object, hashed yet or not, as `rng` picks."""
    def spell(text):
        way = rng.randrange(3) if len(text) > 1 else 0
        return util.twin(test, way == 2, text) if way else text
    return spell


def construct(rng, cls, spell):
    """A default document, or one built from random stored lists (cycles included)."""
    if rng.random() < 0.2:
        return cls(name="app")
    return cls(name="app",
               policies=[velmark.Policy(sub=spell(rng.choice(ROLES[:-1])), obj=spell(o), act=spell(a))
                         for o, a in rng.choices(PAIRS, k=rng.randrange(6))],
               groups=[velmark.Group(child=spell(rng.choice(ROLES[:-1])), parent=spell(rng.choice(ROLES[:-1])))
                       for _ in range(rng.randrange(6))])


class RandomSequenceTest(unittest.TestCase):
    def assert_consistent(self, doc, before, added, context):
        """Checks the invariants that must hold after any step; `added` holds the containments it stored."""
        dag, rebuilt = doc.dag, velmark.Velmark(policies=list(doc.policies), groups=list(doc.groups)).dag
        self.assertEqual([node for node in rebuilt if node not in dag], [], context)
        for node, successors in dag.items():
            self.assertEqual(len(successors), len(set(successors)), "%s: repeated successor of %r" % (context, node))
            self.assertEqual([s for s in successors if s not in dag], [], "%s: dangling from %r" % (context, node))
            self.assertEqual(set(successors), set(rebuilt.get(node, ())), "%s: edges of %r" % (context, node))
        for child, parent in added:
            self.assertFalse(reaches(before, parent, child), "%s: %r in %r closes a cycle" % (context, child, parent))

    def run_seed(self, seed, steps):
        rng = random.Random(seed)
        cls, spell = HookedDoc if seed % 2 else util.CountingDoc, spelling(self, rng)
        doc = construct(rng, cls, spell)
        for step in range(steps):
            kind = rng.choice(UPDATES * 2 + ["new", "reload", "contents", "implicit", "check"])
            role, names = spell(rng.choice(ROLES)), [spell(n) for n in rng.choices(ROLES, k=rng.randrange(4))]
            perms = [{"obj": spell(o), "act": spell(a)} for o, a in rng.choices(PAIRS, k=rng.randrange(4))]
            context = "seed %d step %d: %s %r %r %r" % (seed, step, kind, role, names, perms)
            before, old_groups = {k: list(v) for k, v in doc.dag.items()}, {(g.child, g.parent) for g in doc.groups}
            saves = doc.saves = 0
            try:
                if kind == "new":
                    doc = construct(rng, cls, spell)
                elif kind == "reload":
                    doc.save()
                    doc = cls.load(name="app")
                elif kind == "contents":
                    doc.get_role_contents(role)
                elif kind == "implicit":
                    doc.get_implicit_permissions_for_roles(names)
                elif kind == "check":
                    doc._check_new_group(velmark.Group(child=role, parent=names[0] if names else role))
                else:
                    getattr(doc, kind)(role, perms if kind.endswith("permissions") else names)
                    saves = 1
            except KeyError:
                pass
            self.assertEqual(doc.saves, saves, context)
            added = set() if kind in ("new", "reload") else {(g.child, g.parent) for g in doc.groups} - old_groups
            self.assert_consistent(doc, before, added, context)

    def test_random_sequences_keep_graph_and_lists_in_step(self):
        """Any mix of updates and queries must keep the graph true to the stored lists and free of new cycles."""
        orvek_engine.clear_store()
        for seed in range(6):
            self.run_seed(seed, 700)
