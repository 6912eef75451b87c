#!/usr/bin/env bash
# Runs every vxml command on the sample document and on bad input, checking standard output,
# standard error and exit status. Usage: vxml_test.sh VXML SAMPLE
set -u
vxml="$1"
sample="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
passed=0
failed=0

# run STATUS ARGS...: runs vxml with no standard input, keeps its output and checks the status.
run() {
  local want="$1"
  shift
  "$vxml" "$@" >"$work/out" 2>"$work/err" </dev/null
  got=$?
  check "exit $want: vxml $*" "$got" "$want"
}
# run_in STATUS INPUT ARGS...: as run, with INPUT (a file) as standard input.
run_in() {
  local want="$1" input="$2"
  shift 2
  "$vxml" "$@" >"$work/out" 2>"$work/err" <"$input"
  got=$?
  check "exit $want: vxml $* < $(basename "$input")" "$got" "$want"
}
check() {
  if [[ "$2" == "$3" ]]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED: %s\n  got:  %s\n  want: %s\n' "$1" "$2" "$3"
    [[ -s "$work/err" ]] && sed 's/^/  stderr: /' "$work/err" | head -5
  fi
}
out_is() { check "stdout is '$1'" "$(cat "$work/out")" "$1"; }
out_has() { check "stdout has '$1'" "$(grep -qF -- "$1" "$work/out" && echo yes)" "yes"; }
err_has() { check "stderr has '$1'" "$(grep -qF -- "$1" "$work/err" && echo yes)" "yes"; }
out_empty() { check "stdout empty" "$(wc -c <"$work/out")" "0"; }
no_crash() { check "no crash message" "$(grep -ciE 'sanitizer|segmentation|abort|terminate' "$work/err")" "0"; }

printf '<a><b></a>' >"$work/malformed.xml"
: >"$work/empty.xml"

# ---- tool-wide options and usage errors
run 0 --version && out_is "KEL XML 2.1.9"
run 0 --help && out_has "Commands:" && out_has "Exit status"
for cmd in check fmt tree get set; do
  run 0 "$cmd" --help && out_has "Usage: vxml $cmd"
done
run 0 help get && out_has "Usage: vxml get"
run 2 && err_has "no command given" && err_has "Try 'vxml --help'"
run 2 frobnicate && err_has "unknown command 'frobnicate'"
run 2 check && err_has "missing arguments"
run 2 fmt "$sample" extra && err_has "unexpected argument 'extra'"
run 2 tree --bogus "$sample" && err_has "unknown option '--bogus'" && err_has "Try 'vxml tree --help'"
run 2 fmt "$sample" --attr x && err_has "unknown option '--attr'"
run 2 get "$sample" gateway --attr && err_has "option --attr needs a value"
run 2 get "$sample" gateway.network.interface --attr mtu --as float && err_has "unknown type 'float'"
run 2 get "$sample" gateway.network --attr ":x" && err_has "bad attribute name ':x'"
run 2 set "$sample" gateway --attr x && err_has "missing arguments"
run 2 set "$sample" gateway.services.service --attr port 70000 --as uint16 && err_has "is not a uint16 (0 to 65535)"
run 2 set "$sample" gateway --attr on maybe --as bool && err_has "is not a bool"
run 2 check - - && err_has "read only once"
run 2 help frobnicate && err_has "unknown command 'frobnicate'"
run 2 --version extra && err_has "unexpected argument 'extra'"
# names the parser would not read back as that one attribute
for name in "a b" 'x="1" evil' 'a"' "a&amp;b" "a=b" "p:" "a:b c"; do
  run 2 set "$sample" gateway --attr "$name" 1 && err_has "bad attribute name" && out_empty
done
run 2 set "$sample" gateway --attr x 1 -o "" && err_has "empty name after -o"
# --as VALUE is read as 'get --as' reads a stored value
run 2 set "$sample" gateway --attr y -0 --as uint8 && err_has "is not a uint8"
run 2 set "$sample" gateway --attr y " 7" --as int32 && err_has "is not a int32"

# ---- check
run 0 check "$sample" && out_is "$sample: ok"
run 1 check "$sample" "$work/malformed.xml" "$work/missing.xml" "$work/empty.xml" "$work"
out_is "$sample: ok"
err_has "malformed.xml: KEL_XML_ERR_SYNTAX (0x1F000705): the text is not well-formed XML"
err_has "missing.xml: KEL_XML_ERR_FILE_OPEN (0x1F000707)"
err_has "empty.xml: KEL_XML_ERR_SYNTAX"
err_has "it is a directory"
no_crash

# ---- fmt: the writer's text, stable when read back through standard input
run 0 fmt "$sample"
out_has '<gw:gateway xmlns:gw="urn:example:gateway" version="3" gw:profile="production">'
out_has '<description>Edge gateway &amp; sensor hub for the eastern site, serving the cold-storage halls</description>'
out_has '<interface name="eth1" dhcp="true" mtu="9000"/>'
check "fmt writes 19 lines" "$(wc -l <"$work/out")" "19"
check "fmt ends with the root's end tag" "$(tail -n 1 "$work/out")" "</gw:gateway>"
cp "$work/out" "$work/formatted.xml"
run_in 0 "$sample" fmt - && check "fmt - equals fmt FILE" "$(cat "$work/out")" "$(cat "$work/formatted.xml")"
run_in 0 "$work/formatted.xml" fmt - && check "fmt is stable" "$(cat "$work/out")" "$(cat "$work/formatted.xml")"
run 1 fmt "$work/malformed.xml" && out_empty && err_has "KEL_XML_ERR_SYNTAX"

# ---- tree
run 0 tree "$sample"
check "tree first line" "$(head -n 1 "$work/out")" \
  'gw:gateway xmlns:gw="urn:example:gateway" version="3" gw:profile="production"'
out_has '    interface name="eth1" dhcp="true" mtu="9000"'
out_has '      address = "192.168.10.2"'
out_has '    description = "Edge gateway & sensor hub for the eastern site, serving the "... (78 bytes)'
check "tree counts" "$(tail -n 1 "$work/out")" "13 elements, 21 attributes, depth 4"
run 0 tree "$sample" gateway.network.interface.2
out_is $'interface name="eth1" dhcp="true" mtu="9000"\n1 element, 3 attributes, depth 1'
run_in 0 "$sample" tree - && check "tree counts from stdin" "$(tail -n 1 "$work/out")" \
  "13 elements, 21 attributes, depth 4"
printf '<a note="line1\nline2\ttab &quot;q&quot;"><b>x</b></a>' >"$work/escapes.xml"
run 0 tree "$work/escapes.xml" && out_has 'a note="line1\nline2\ttab \"q\""'
run 1 tree "$work/malformed.xml" && out_empty

# ---- get
run 0 get "$sample" gateway.network.interface.2 --attr mtu --as uint16 && out_is "9000"
run 0 get "$sample" gateway.services.service --attr name && out_is "telemetry"
run 0 get "$sample" gw:gateway --attr gw:profile && out_is "production"
run 0 get "$sample" gateway.network.interface --attr dhcp --as bool && out_is "false"
run 0 get "$sample" gateway.gw:identity.description && out_has "Edge gateway & sensor hub"
run 0 get "$sample" gateway.network && out_is ""
run 1 get "$sample" gateway.nothing && err_has "KEL_XML_ERR_NOT_FOUND" && err_has "no element at this path"
run 1 get "$sample" gateway.1 && err_has "KEL_XML_ERR_BAD_URL (0x1F000706)"
run 1 get "$sample" gateway.services.service.0 && err_has "KEL_XML_ERR_BAD_URL"
run 1 get "$sample" gateway.services --attr nope && err_has "KEL_XML_ERR_NOT_FOUND" && err_has "no such attribute"
run 1 get "$sample" gateway.services.service --attr name --as int32
err_has 'the value "telemetry" is not a int32'
run 1 get "$sample" gateway.services.service --attr port --as int8 && err_has "KEL_XML_ERR_INVALID_PARAM"
run 1 get "$sample" gateway.network --as int32 && err_has "there is no value to read as int32"
run_in 0 "$sample" get - gateway.logging --attr max-files --as uint8 && out_is "8"

# ---- set
run 0 set "$sample" gateway.services.service.2 --attr port 2223 --as uint16
out_has '<service name="maintenance" port="2223" enabled="false" retries="3"/>'
run 0 set "$sample" gateway.services.service.2 --attr timeout 30
out_has '<service name="maintenance" port="2222" enabled="false" retries="3" timeout="30"/>'
run 0 set "$sample" gateway --attr gw:profile staging
out_has '<gw:gateway xmlns:gw="urn:example:gateway" version="3" gw:profile="staging">'
run 0 set "$sample" gateway.logging --attr offset -5 --as int8 && out_has 'offset="-5"'
run 0 set "$sample" gateway.logging --attr verbose 1 --as bool && out_has 'verbose="true"'
run 0 set "$sample" gateway.logging --attr plus +7 --as int32 && out_has 'plus="7"'
run 0 set "$sample" gateway.logging --attr zero -0 --as int8 && out_has 'zero="0"'
run 0 set "$sample" gateway.logging --attr dotted.name-1 v && out_has 'dotted.name-1="v"'
run 1 set "$sample" gateway.network hello && err_has "the element has child elements" && out_empty
run 1 set "$sample" gateway.network 5 --as int32 && err_has "the element has child elements"
run 0 set "$sample" gateway.network --attr note hello && out_has '<network note="hello">'
run 0 set "$sample" gateway.logging.path x -o - && out_has '<path>x</path>'
run 0 set "$sample" gateway.logging.path -- "-dash & co" && out_has '<path>-dash &amp; co</path>'
run 0 set "$sample" gateway.logging.path 7 --as uint8 -o "$work/edited.xml" && out_empty
run 0 get "$work/edited.xml" gateway.logging.path --as uint8 && out_is "7"
run 0 check "$work/edited.xml"
run 1 set "$sample" gateway.nothing --attr x 1 && err_has "KEL_XML_ERR_NOT_FOUND"
run 1 set "$sample" gateway --attr x 1 -o "$work/no/such/dir/out.xml" && err_has "KEL_XML_ERR_FILE_OPEN"
run_in 0 "$sample" set - gateway.services.service --attr enabled false && out_has 'name="telemetry" port="8443" enabled="false"'
# -o replaces OUT only once the whole text is written, and keeps its mode
cp "$sample" "$work/keep.xml" && chmod 640 "$work/keep.xml"
run 0 set "$work/keep.xml" gateway --attr x 1 -o "$work/keep.xml" && run 0 get "$work/keep.xml" gateway --attr x
out_is "1"
check "-o keeps the mode" "$(stat -c %a "$work/keep.xml")" "640"
ln -s keep.xml "$work/link.xml"
run 0 set "$work/keep.xml" gateway --attr x 2 -o "$work/link.xml"
check "-o through a link writes its target" "$(test -L "$work/link.xml" && cat "$work/keep.xml" | grep -c 'x="2"')" "1"
{ printf '<r>'; for i in $(seq 400); do printf '<item n="%d">value %d</item>' "$i" "$i"; done; printf '</r>'; } >"$work/big.xml"
cp "$work/big.xml" "$work/before.xml"
(trap '' XFSZ; ulimit -f 4; "$vxml" set "$work/big.xml" r --attr x 3 -o "$work/big.xml" >"$work/out" 2>"$work/err" </dev/null)
check "a failed write exits 1" "$?" "1"
err_has "KEL_XML_ERR_FILE_WRITE"
check "a failed write leaves OUT as it was" "$(cmp -s "$work/big.xml" "$work/before.xml" && echo same)" "same"
check "a failed write leaves no temporary file" "$(ls -A "$work" | grep -c vxml-)" "0"
run 1 set "$sample" gateway --attr x 1 -o "$work" && err_has "it is a directory"
# a pipe (or device) is written, never replaced; a pipe of our own, so that a fault here
# cannot replace a device of the machine's
mkfifo "$work/outpipe"
timeout 20 cat "$work/outpipe" >"$work/piped" &
run 0 set "$sample" gateway --attr x 1 -o "$work/outpipe" && out_empty
wait
check "-o PIPE leaves the pipe" "$(test -p "$work/outpipe" && echo pipe)" "pipe"
check "-o PIPE writes the pipe" "$(grep -c 'production" x="1">' "$work/piped")" "1"
check "-o PIPE leaves no temporary file" "$(ls -A "$work" | grep -c vxml-)" "0"
ln -s outpipe "$work/outlink"  # as /dev/stdout is a link to a pipe
timeout 20 cat "$work/outpipe" >"$work/piped" &
run 0 set "$sample" gateway --attr x 2 -o "$work/outlink" && out_empty
wait
check "-o LINK-TO-PIPE leaves the link" "$(test -L "$work/outlink" && echo link)" "link"
check "-o LINK-TO-PIPE writes the pipe" "$(grep -c 'production" x="2">' "$work/piped")" "1"

# ---- standard input that is empty or malformed
run_in 1 "$work/empty.xml" check - && err_has "<stdin>: KEL_XML_ERR_SYNTAX" && err_has "the input is empty"
run_in 1 "$work/malformed.xml" fmt - && err_has "<stdin>: KEL_XML_ERR_SYNTAX" && out_empty
printf '\0<a/>' >"$work/nul.xml"
run_in 1 "$work/nul.xml" check - && err_has "<stdin>: KEL_XML_ERR_SYNTAX" && err_has "begins with NUL"
run 1 check "$work/nul.xml" && err_has "KEL_XML_ERR_SYNTAX"
# a pipe given by name is read as a stream
mkfifo "$work/pipe"
cat "$sample" >"$work/pipe" &
run 0 check "$work/pipe" && out_is "$work/pipe: ok"
wait
head -c 3000 /dev/urandom >"$work/noise.bin"
run_in 1 "$work/noise.bin" tree - && no_crash

# ---- a million nested elements: outline without stack growth
depth=1000000
{ yes '<a>' | head -n $depth | tr -d '\n'; yes '</a>' | head -n $depth | tr -d '\n'; } >"$work/deep.xml"
"$vxml" tree "$work/deep.xml" 2>"$work/err" | tail -n 2 >"$work/out"
check "deep tree status" "${PIPESTATUS[0]}" "0"
out_is "$(printf '%64s[%d] a\n%d elements, 0 attributes, depth %d' '' $depth $depth $depth)"
run 0 check "$work/deep.xml"

echo "vxml tool: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
