# Turns the model catalogue (the tab-separated listing of ovik-models) into a
# PPD compiler source: one PPD per distinct model name, each with the page
# sizes of the model's roll. The file name, roll width, page width and page
# lengths come from the listing, as the printer application takes them.
#
# A model name that appears in several rows gets its PPD from the first one,
# as the filter's own lookup does. The placeholder row of width 0 gets none.

BEGIN {
  FS = "\t"
  print "// Generated from the model catalogue by make-drv.awk; do not edit."
  print "#include \"driver.defs\""
  print "#include \"keywords.defs\""
  print ""
}

NR == 1 { next }

# One page size: the roll's width and a length, named as the printer
# application names it (PWG "om_<name>_..."), with the words the catalogue
# listing gives it.
function media(roll, w, length_mm, label, is_default,    name, l) {
  name = roll "x" length_mm "mm"
  l = sprintf("%.4f", length_mm * 72 / 25.4)
  printf "  %sCustomMedia \"%s/%s\" %s %s 0 0 0 0 \"<</PageSize[%s %s]/ImagingBBox null>>setpagedevice\" \"<</PageSize[%s %s]/ImagingBBox null>>setpagedevice\"\n", \
    (is_default ? "*" : ""), name, label, w, l, w, l, w, l
}

{
  row = $1; manufacturer = $3; name = $4; width = $8 + 0; driver = $9; roll = $10; points = $11
  if (width <= 0 || name == "" || (name in seen))
    next
  seen[name] = 1
  if (manufacturer == "")
    manufacturer = "Ovik"
  print "{"
  printf "  Manufacturer \"%s\"\n", manufacturer
  printf "  ModelName \"%s\"\n", name
  printf "  Attribute ShortNickName \"\" \"%s\"\n", name
  printf "  PCFileName \"%s.ppd\"\n", driver
  n = split($12, lengths, " ")
  split($13, labels, "|")
  for (i = 1; i <= n; i++) {
    is_default = lengths[i] ~ /\*$/
    sub(/\*$/, "", lengths[i])
    media(roll, points, lengths[i], labels[i], is_default)
  }
  print "}"
}
