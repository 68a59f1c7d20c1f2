#!/usr/bin/env bash
# The collection's static checks: ansible-test sanity (every check that
# Debian's packages let run here, without fetching anything) and
# ansible-doc rendering each module and the role. Skips (77) when Debian's
# ansible-core is missing. Needs no network.
# usage: ansible/tests/sanity.sh
set -uo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Debian's tools and Python only: python3 on PATH may be another Python.
export PATH=/usr/bin:/bin
for tool in ansible-test ansible-doc yamllint pylint; do
  [ -x "/usr/bin/$tool" ] || { echo "skipped: no /usr/bin/$tool (scripts/install-deps.sh installs it)"; exit 77; }
done
python_version=$(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])')

tree=$(mktemp -d /tmp/kelvo-sanity.XXXXXX)
trap 'rm -rf "$tree"' EXIT
collection=$tree/ansible_collections/kelvo/commissioning
mkdir -p "$collection"
(cd "$here" && tar --exclude=./tests/output -cf - .) | (cd "$collection" && tar -xf -)
failures=0

echo "== ansible-test sanity (Python $python_version)"
(cd "$collection" && /usr/bin/python3 "$here/tests/sanity_offline.py" sanity --python "$python_version" \
  --color no -v) >"$tree/sanity.log" 2>&1
status=$?
grep -v '^WARNING: Using locale' "$tree/sanity.log"
[ "$status" = 0 ] || { echo "FAIL: ansible-test sanity ended with status $status"; failures=$((failures + 1)); }
# Each check: run, nothing to check in this collection, or skipped.
verdicts=$(awk '
  /^Running sanity test "/ { split($0, part, "\""); name = part[2]; verdict[name] = "run" }
  /^No tests applicable/ { verdict[name] = "idle" }
  /Skipping sanity test "/ { split($0, part, "\""); verdict[part[2]] = "skipped" }
  END { for (n in verdict) print verdict[n], n }' "$tree/sanity.log" | sort)
for kind in run idle skipped; do
  label=$kind
  [ "$kind" != idle ] || label="with nothing to check here"
  echo "checks $label: $(awk -v k="$kind" '$1 == k { print $2 }' <<<"$verdicts" | paste -sd' ')"
done
for needed in ansible-doc compile import pep8 pylint validate-modules yamllint shellcheck; do
  if ! grep -qx "run $needed" <<<"$verdicts"; then
    echo "FAIL: the sanity check $needed did not run"
    failures=$((failures + 1))
  fi
done

echo "== ansible-doc"
export ANSIBLE_COLLECTIONS_PATH=$tree
for module in "$collection"/plugins/modules/*.py; do
  name=kelvo.commissioning.$(basename "$module" .py)
  if doc=$(ansible-doc -t module "$name" 2>&1) && grep -q '^OPTIONS' <<<"$doc" &&
     grep -q '^EXAMPLES' <<<"$doc" && grep -q '^RETURN VALUES' <<<"$doc"; then
    echo "ok   ansible-doc $name"
  else
    echo "FAIL ansible-doc $name: $doc" | head -20
    failures=$((failures + 1))
  fi
done
if doc=$(ansible-doc -t role kelvo.commissioning.site 2>&1) && grep -q 'kelvo_site_devices' <<<"$doc"; then
  echo "ok   ansible-doc -t role kelvo.commissioning.site"
else
  echo "FAIL ansible-doc -t role kelvo.commissioning.site: $doc" | head -20
  failures=$((failures + 1))
fi

if [ "$failures" != 0 ]; then
  echo "sanity: $failures check(s) failed"
  exit 1
fi
echo "sanity: all checks passed"
