"""A containment chain far deeper than any call stack."""

import time
import unittest

import util
import velmark

DEPTH = 1000000
TIME_LIMIT = 120.0   # seconds, for everything; the walks themselves take about one


class DeepChainTest(unittest.TestCase):
    def test_million_role_chain(self):
        """Long chains of roles must be built, checked, walked and queried without running out of stack."""
        started = time.monotonic()
        top, middle, bottom = "r0", "r%d" % (DEPTH // 2), "r%d" % DEPTH
        doc = util.QuietDoc(name="deep", policies=[velmark.Policy(sub=bottom, obj="vault", act="open")],
                            groups=[velmark.Group(child="r%d" % i, parent="r%d" % (i + 1)) for i in range(DEPTH)])
        self.assertEqual(len(doc.dag), DEPTH + 3)
        self.assertEqual(doc.dag[top], ["r1"])
        self.assertEqual(doc.dag[bottom], [("vault", "open")])
        # Closing the chain into a loop is refused; the edge the other way is safe.
        self.assertIs(doc._check_new_group(velmark.Group(child=bottom, parent=top)), False)
        self.assertIs(doc._check_new_group(velmark.Group(child=top, parent=bottom)), True)
        self.assertEqual(doc.add_role_sub_roles(bottom, [top]).to_display()["roles"], [])
        for names in ([top], [middle], [bottom, top]):
            answer = doc.get_implicit_permissions_for_roles(names)
            self.assertEqual(answer.to_display()["permissions"], [{"obj": "vault", "act": "open"}])
        marks = dict.fromkeys(doc.dag, False)
        self.assertIs(doc._dfs(top, marks), marks)
        self.assertEqual([node for node, seen in marks.items() if not seen], ["public"])
        self.assertLess(time.monotonic() - started, TIME_LIMIT)

    @unittest.skipIf(util.SANITIZED, "ASan's shadow memory does not fit under an address-space limit")
    def test_walk_without_room_for_its_stack_raises_memory_error(self):
        """A walk whose own stack cannot grow must fail with MemoryError and leave a working interpreter."""
        done = util.run_python("""
            import util, velmark
            length, doc = %d, velmark.Velmark(policies=[], groups=[])
            doc.dag = {"r" + str(i): ["r" + str(i + 1)] if i < length else [] for i in range(length + 1)}
            marks = dict.fromkeys(doc.dag, False)
            try:
                util.with_address_space_headroom(lambda: doc._dfs("r0", marks))
            except MemoryError:
                print("MemoryError", marks["r0"], doc._dfs("r" + str(length), {}))
            """ % (2 * DEPTH))
        util.assert_printed(self, done, "MemoryError True {'r%d': True}\n" % (2 * DEPTH))
