# Shell helpers for the runarray cases: write a small data set by hand, the way the
# converter lays it out, so that the sorter's cases do not depend on the converter.
#
#   make_dataset <dir/> <prefix> <bases>...   one input per argument ("-" for an empty one)
#   le32 <value>...                           32-bit little-endian words on stdout

le32() {
  local v
  for v in "$@"; do
    v=$((v & 0xffffffff))
    printf "\\$(printf %03o $((v & 255)))\\$(printf %03o $((v >> 8 & 255)))"
    printf "\\$(printf %03o $((v >> 16 & 255)))\\$(printf %03o $((v >> 24 & 255)))"
  done
}

# 16 bases per word, first base in bits 31-30, a=0 c=1 g=2 t=3 in either case; the
# unused low bits of the last word are zero.
pack() {
  local seq=$1 k j w c
  for ((k = 0; k < ${#seq}; k += 16)); do
    w=0
    for ((j = 0; j < 16 && k + j < ${#seq}; j++)); do
      case ${seq:k+j:1} in
        a|A) c=0 ;; c|C) c=1 ;; g|G) c=2 ;; *) c=3 ;;
      esac
      w=$((w | c << (30 - 2 * j)))
    done
    le32 $w
  done
}

make_dataset() {
  local dir=$1 prefix=$2 i=0 seq
  shift 2
  local ds="$dir$prefix.ST"
  mkdir -p "$ds"
  : >"$ds/$prefix.stlengths"
  : >"$ds/$prefix.stblengths"
  for seq in "$@"; do
    [ "$seq" = - ] && seq=
    printf '%s' "$seq" >"$ds/${prefix}_$i.stdna"
    pack "$seq" >"$ds/${prefix}_$i.stbin"
    le32 ${#seq} >>"$ds/$prefix.stlengths"
    le32 $((2 * ${#seq})) >>"$ds/$prefix.stblengths"
    i=$((i + 1))
  done
}
