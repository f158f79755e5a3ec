"""Walk through the role organisation of one application, step by step.

Run with the built modules and the engine on the path, e.g.
    PYTHONPATH=build/python:standins build/host-python examples/demo.py
"""
import velmark


def show(title, content):
    print("%s\n    %s" % (title, content.to_display()))


def pairs(content):
    return {(p["obj"], p["act"]) for p in content.to_display()["permissions"]}


def main():
    print("1. A new application document gets the default roles.")
    doc = velmark.Velmark(name="shop-app")
    print("    role graph:", doc.dag)

    print("\n2. Give roles their permissions.")
    show("clerk may read orders and products:",
         doc.add_role_permissions("clerk", [{"obj": "orders", "act": "read"},
                                            {"obj": "products", "act": "read"}]))
    show("manager may write orders:",
         doc.add_role_permissions("manager", [{"obj": "orders", "act": "write"}]))

    print("\n3. Let roles contain other roles.")
    show("manager contains clerk:", doc.add_role_sub_roles("manager", ["clerk"]))
    show("admin contains manager as well:", doc.add_role_sub_roles("admin", ["manager"]))

    print("\n4. Replace a role's permissions: clerk now only reads products"
          " and writes reviews.")
    show("clerk:", doc.set_role_permissions("clerk", [{"obj": "products", "act": "read"},
                                                      {"obj": "reviews", "act": "write"}]))

    print("\n5. A cycle is refused without an error:"
          " admin contains clerk (through manager), so clerk may not contain admin.")
    answer = doc.add_role_sub_roles("clerk", ["admin"])
    show("clerk after the attempt:", answer)
    print("    clerk lists admin as a sub-role:", "admin" in answer.roles)

    print("\n6. What roles hold.")
    show("direct contents of manager:", doc.get_role_contents("manager"))
    implicit = doc.get_implicit_permissions_for_roles(["manager"])
    show("everything manager holds, through clerk too:", implicit)
    print("    role graph now:", doc.dag)

    print("\n7. Every update above has saved the document; load it back.")
    doc.save()  # not needed after an update, shown for completeness
    loaded = velmark.Velmark.load(name="shop-app")
    print("    loaded groups:", [(g.child, g.parent) for g in loaded.groups])
    again = loaded.get_implicit_permissions_for_roles(["manager"])
    show("the loaded copy's answer for manager:", again)
    # The loaded graph is rebuilt from the stored lists, so its nodes (and the
    # order the answer lists permissions in) follow the stored order.
    print("    same permissions as before saving:", pairs(again) == pairs(implicit))


if __name__ == "__main__":
    main()
