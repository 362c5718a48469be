#!/usr/bin/env bash
# The namespace demo: Explorer's view of the "Sortwell" and "Quick pins" roots under Wine.
# It needs the folder objects that Explorer browses, which are not built yet; until then this
# command says so and the test command is the way to see the system work.
echo "demo.sh: the namespace demo arrives with the folder objects (the namespace browser)." >&2
echo "demo.sh: meanwhile, scripts/test.sh builds everything and runs every test under Wine." >&2
exit 1
