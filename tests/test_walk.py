"""The depth-first walk over the role graph and the cycle check built on it."""

import types
import unittest

import util
import velmark

# A diamond a -> b, c -> d that loops back to a; d holds a permission, e stands apart.
GROUPS = [("a", "b"), ("a", "c"), ("b", "d"), ("c", "d"), ("d", "a")]
POLICIES = [("d", "doc", "read"), ("e", "doc", "write")]


class WalkTest(unittest.TestCase):
    def test_marks_what_is_reached_in_the_callers_mapping(self):
        """A query reading its own mapping after the walk must see exactly the reached nodes."""
        doc = velmark.Velmark(name="app")
        marks = dict.fromkeys(doc.dag, False)
        self.assertIs(doc._dfs("admin", marks), marks)
        self.assertEqual(list(marks.items()), [("admin", True), ("root", True), (("*", "*"), True), ("public", False)])

    def test_unknown_start_is_marked_then_named_in_key_error(self):
        """A walk from a role the graph lacks must mark it first, then name it in a KeyError, the graph unchanged."""
        doc = velmark.Velmark(name="app")
        marks = dict.fromkeys(doc.dag, False)
        with self.assertRaises(KeyError) as caught:
            doc._dfs("ghost", marks)
        self.assertEqual(caught.exception.args, ("ghost",))
        self.assertEqual(marks["ghost"], True)
        self.assertNotIn("ghost", doc.dag)

    def test_overriding_walk_is_entered_once_per_node_in_pre_order(self):
        """A hooked walk must see each node once, depth first, with the caller's mapping, and mark all it reaches."""
        class RecordingWalk(velmark.Velmark):
            def _dfs(self, start, discovered):
                self.entered.append((start, id(discovered)))
                return super()._dfs(start, discovered)

        doc = util.make_doc(GROUPS, POLICIES, cls=RecordingWalk)
        doc.entered, marks = [], dict.fromkeys(doc.dag, False)
        marks["e"] = True   # a marked start is still scanned, and walks sharing a mapping add up
        doc._dfs("e", marks)
        self.assertIs(doc._dfs("a", marks), marks)
        self.assertEqual(doc.entered, [(n, id(marks)) for n in
                                       ["e", ("doc", "write"), "a", "b", "d", ("doc", "read"), "c"]])
        self.assertEqual(marks, {node: node != "public" for node in doc.dag})

    def test_start_is_marked_first_and_the_walk_read_only_for_unmarked_successors(self):
        """Any object with a graph can be walked; a missing graph or walk fails with the start marked."""
        walk, other = velmark.Velmark._dfs, types.SimpleNamespace(dag={"a": ["b"], "b": []})
        marks = {"a": False, "b": True}
        self.assertIs(walk(other, "a", marks), marks)
        self.assertEqual(marks, {"a": True, "b": True})
        for target, marks, missing, left in [(types.SimpleNamespace(), {}, "dag", {"a": True}),
                                             (other, {"a": False, "b": False}, "_dfs", {"a": True, "b": False})]:
            with self.subTest(missing=missing), self.assertRaises(AttributeError) as caught:
                walk(target, "a", marks)
            self.assertEqual(str(caught.exception), "'types.SimpleNamespace' object has no attribute %r" % missing)
            self.assertEqual(marks, left, missing)

    def test_recursing_through_a_wrapped_walk_ends_in_recursion_error(self):
        """A walk re-entered through a C-level wrapper at every node must stop at the recursion limit."""
        done = util.run_python("""
            import functools, velmark
            class Wrapped(velmark.Velmark):
                _dfs = functools.partialmethod(velmark.Velmark._dfs)
            doc = Wrapped(policies=[], groups=[])
            doc.dag = {"r%d" % i: ["r%d" % (i + 1)] if i < 50000 else [] for i in range(50001)}
            try:
                doc._dfs("r0", dict.fromkeys(doc.dag, False))
            except RecursionError as exc:
                print(str(exc).startswith("maximum recursion depth exceeded"), doc._dfs("r50000", {})["r50000"])
            """)
        util.assert_printed(self, done, "True True\n")

    def test_successor_list_shortened_during_the_walk_ends_at_its_new_end(self):
        """Code the walk runs (a mark's store, a successor's hash, an overriding walk) that shortens the list being
        walked must end the walk at the list's new end, as iterating the list would."""
        done = util.run_python("""
            import velmark
            class Marks(dict):
                def __setitem__(self, node, mark):
                    super().__setitem__(node, mark)
                    trigger(node)
            class Shortening(str):
                def __hash__(self):
                    trigger(self)
                    return str.__hash__(self)
            class Overriding(velmark.Velmark):
                def _dfs(self, start, discovered):
                    trigger(start)
                    return super()._dfs(start, discovered)
            for at, cut, cls, node in [("b", list.clear, velmark.Velmark, str), ("c", "del", velmark.Velmark, str),
                                       ("b", list.clear, velmark.Velmark, Shortening),
                                       ("b", list.clear, Overriding, str)]:
                doc = cls(policies=[], groups=[])
                doc.dag = {"a": [node("b"), "c", "d"], "b": [], "c": [], "d": []}
                def trigger(reached):
                    if reached == at:
                        del doc.dag["a"][1 if cut == "del" else 0:]
                marks = doc._dfs("a", Marks(dict.fromkeys(doc.dag, False)))
                print("".join(node for node, mark in marks.items() if mark), doc.dag["a"])
            """)
        util.assert_printed(self, done, "ab []\nabc ['b']\nab []\nab []\n")

    def test_errors_while_reading_a_mark_reach_the_caller_unchanged(self):
        """An error raised while a mark is looked up (by a successor's __eq__) must reach the caller as raised,
        KeyboardInterrupt included, after one call."""
        class Faulty(str):
            __hash__ = str.__hash__

            def __eq__(self, other):
                self.calls += 1
                raise self.error

        for error in (ZeroDivisionError("eq"), KeyboardInterrupt()):
            node, doc = Faulty("b"), velmark.Velmark(policies=[], groups=[])
            node.calls, node.error, doc.dag = 0, error, {"a": [node], node: []}
            with self.subTest(error=type(error).__name__), self.assertRaises(type(error)) as caught:
                doc._dfs("a", {"a": False, "b": False})
            self.assertIs(caught.exception, error)
            self.assertEqual(node.calls, 1)

    @unittest.skipIf(util.SANITIZED, "ASan's shadow memory does not fit under an address-space limit")
    def test_walk_that_never_keeps_a_mark_ends_in_memory_error(self):
        """A walk around a cycle whose marks are lost must fail with MemoryError, the interpreter intact."""
        done = util.run_python("""
            import util, velmark
            class Forgetful:
                def __setitem__(self, node, mark):
                    pass
                def __getitem__(self, node):
                    return False
            doc = velmark.Velmark(policies=[], groups=[])
            doc.dag = {"a": ["b"], "b": ["a"]}
            try:
                util.with_address_space_headroom(lambda: doc._dfs("a", Forgetful()))
            except MemoryError:
                print("MemoryError", doc._dfs("a", dict.fromkeys("ab", False)))
            """)
        util.assert_printed(self, done, "MemoryError {'a': True, 'b': True}\n")


class CycleCheckTest(unittest.TestCase):
    def test_refuses_self_direct_and_transitive_cycles(self):
        """No containment closing a loop may be reported safe; the child becomes a key whatever happens."""
        doc = util.make_doc([("a", "b"), ("b", "c")], POLICIES)
        for child, parent, safe in [("c", "a", False), ("b", "a", False), ("b", "b", False),
                                    ("lone", "lone", False), ("a", "c", True), ("new", "a", True)]:
            with self.subTest(child=child, parent=parent):
                self.assertIs(doc._check_new_group(velmark.Group(child=child, parent=parent)), safe)
                self.assertIn(child, doc.dag)
        # A parent the graph lacks is named in a KeyError; the child is still added, the parent never.
        with self.assertRaises(KeyError) as caught:
            doc._check_new_group(velmark.Group(child="orphan", parent="ghost"))
        self.assertEqual(caught.exception.args, ("ghost",))
        self.assertEqual([doc.dag[n] for n in ("a", "lone", "new", "orphan")], [["b"], [], [], []])
        self.assertEqual(list(doc.dag)[-1], "orphan")
        self.assertNotIn("ghost", doc.dag)
        self.assertEqual(len(doc.groups), 2)

    def test_reads_come_in_the_order_of_the_check_written_in_python(self):
        """As `child not in dag` and `self._dfs(new_group.parent, ...)` do, the graph is read before the child is
        hashed, and the walk looked up before the parent is read: when both fail, the earlier one's error wins."""
        class NoParent:
            child = "c"

            @property
            def parent(self):
                raise LookupError("parent")

        check = velmark.Velmark._check_new_group
        for target, group, missing in [(types.SimpleNamespace(), velmark.Group(child=[], parent="root"), "dag"),
                                       (types.SimpleNamespace(dag={}), NoParent(), "_dfs")]:
            with self.subTest(missing=missing):
                with self.assertRaises(AttributeError) as caught:
                    check(target, group)
                self.assertEqual(str(caught.exception), "'types.SimpleNamespace' object has no attribute %r" % missing)
