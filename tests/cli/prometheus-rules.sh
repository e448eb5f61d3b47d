#!/usr/bin/env bash
# The package's Prometheus alerting rules: valid, over metrics the program really writes, and each alert
# firing when it should and quiet when it should not on series shaped like the units' files:
#   prometheus-rules.sh SOURCE_DIR
set -euo pipefail
src=$1
rules=$src/packaging/prometheus/qkadmin.rules.yml
tests=$src/tests/cli/prometheus-rules.test.yml
fail() { echo "prometheus-rules: $*" >&2; exit 1; }
command -v promtool >/dev/null || fail "promtool is not installed (Debian's prometheus package)"

promtool check rules "$rules" || fail "the rules do not load"
# Every metric of the program the rules or their test name is one the program writes (its table of
# metrics in admin/HealthMetrics.cpp): a renamed metric would leave an alert silent for ever.
written=$(grep -o '{"qkadmin_[a-z_]*"' "$src/admin/HealthMetrics.cpp" | tr -d '{"' | sort -u)
[ -n "$written" ] || fail "no metric names found in admin/HealthMetrics.cpp"
for name in $(grep -oh '\bqkadmin_[a-z_]*' "$rules" "$tests" | sort -u); do
    grep -qxF "$name" <<<"$written" || fail "$name is not a metric the program writes"
done
# All six kinds of alert are tested.
for alert in $(sed -n 's/^ *- alert: //p' "$rules"); do
    grep -q "alertname: $alert\$" "$tests" || fail "$alert is not tested"
done
(cd "$(dirname "$tests")" && promtool test rules "$(basename "$tests")") || fail "the rules' test failed"
echo "prometheus-rules: $(grep -c '^ *- alert:' "$rules") alerts checked"
