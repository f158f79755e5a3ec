"""Describe a user of the applications: check application names, then build
and validate a user record.

Run with the built modules and the engine on the path, e.g.
    PYTHONPATH=build/python:standins build/host-python examples/demo_users.py
"""
import messages
from orvek_fields import ValidationError


def check_names(field, names):
    """Prints the verdict for each name; returns the accepted ones."""
    accepted = []
    for name in names:
        try:
            field.validate(name)
        except ValidationError as exc:
            print("    refused  %-16r (%s)" % (name, exc))
        else:
            print("    accepted %r" % (name,))
            accepted.append(name)
    return accepted


def main():
    print("1. An application-name field with its defaults.")
    field = messages.AppNameField()
    for key, value in field.options.items():
        print("    %s: %r" % (key, value))

    print("\n2. Check some application names against its pattern.")
    apps = check_names(field, ["billing-api", "web-shop-2", "inventory", "my--app"])

    print("\n3. A user who belongs to the accepted applications.")
    user = messages.UserBasicInfo(name="ada@example.org", apps=apps, user_id="u-1",
                                  confirm_time=1700000000.0)
    user.validate()
    print("    valid record:", user.to_display())

    print("\n4. A record with a malformed e-mail address is refused.")
    broken = messages.UserBasicInfo(name="ada at example", apps=apps, user_id="u-2")
    try:
        broken.validate()
    except ValidationError as exc:
        print("    refused:", exc)


if __name__ == "__main__":
    main()
