"""Reads the program's accessibility tree over AT-SPI, as a screen reader would, and checks
that the palettes' rows, their check boxes, the status bar and the document are there."""
import sys
import time

import pyatspi


def tree(node, depth=0, out=None):
    out = [] if out is None else out
    try:
        role, name = node.getRoleName(), node.name
    except Exception:
        return out
    try:
        value = node.queryValue().currentValue
    except Exception:
        value = None
    out.append((depth, role, name, value))
    if depth < 12:
        for i in range(node.childCount):
            try:
                tree(node.getChildAtIndex(i), depth + 1, out)
            except Exception:
                pass
    return out


def main():
    app = None
    for _ in range(60):
        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            child = desktop.getChildAtIndex(i)
            if child is not None and "quillmere" in (child.name or "").lower():
                app = child
        if app is not None:
            nodes = tree(app)
            if any(role == "list" and name == "vue" for _, role, name, _ in nodes):
                break
        time.sleep(0.5)
    if app is None:
        sys.exit("the program never showed on the accessibility bus")
    nodes = tree(app)
    found = {(role, name): value for _, role, name, value in nodes}
    expected = [
        ("frame", "Quillmere 0.2.1"),
        ("frame", "Sans Titre 1 - Lorenz (rendu)"),
        ("status bar", "Barre d'état"),
        ("list", "attracteur"),
        ("text", "Itérations"),
        ("slider", "Hasard"),
        ("slider", "dT"),
        ("check box", "Fixé pendant la recherche"),
        ("list", "vue"),
        ("combo box", "Largeur"),
        ("text", "Mises à jour"),
        ("slider", "Echelle"),
    ]
    missing = [e for e in expected if e not in found]
    if missing:
        for depth, role, name, value in nodes:
            print("  " * depth + f"[{role}] {name!r} {value!r}")
        sys.exit(f"missing: {missing}")
    if found[("text", "Itérations")] != 20000000 or found[("combo box", "Largeur")] != 640:
        sys.exit("wrong values: %r %r" % (found[("text", "Itérations")], found[("combo box", "Largeur")]))
    print("accessibility tree: %d objects, every expected row present" % len(nodes))


main()
