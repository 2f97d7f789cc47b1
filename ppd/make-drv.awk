# Turns the model catalogue (the tab-separated listing of ovik-models) into a
# PPD compiler source: one PPD per distinct model name, each with the page
# sizes of the model's print width.
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

# A PPD file name from a model name: lower case, letters and digits, hyphens.
function file_name(name,    s) {
  s = tolower(name)
  gsub(/[^a-z0-9]+/, "-", s)
  gsub(/^-|-$/, "", s)
  return "ovik-" s ".ppd"
}

# Page width in points for a print width in dots at 203 dpi.
function points(dots) {
  return sprintf("%.4f", dots * 72 / 203)
}

# The paper a width is sold as: the 58 mm and 80 mm receipt rolls, else the
# print width itself in millimetres.
function roll(dots) {
  if (dots == 384) return 58
  if (dots == 576) return 80
  return sprintf("%d", dots * 25.4 / 203 + 0.5)
}

function media(dots, length_mm, is_default,    name, label, w, l) {
  name = roll(dots) "x" length_mm "mm"
  if (dots == 384 || dots == 576)
    label = roll(dots) " mm roll, " length_mm " mm"
  else
    label = roll(dots) " mm wide, " length_mm " mm"
  w = points(dots)
  l = sprintf("%.4f", length_mm * 72 / 25.4)
  printf "  %sCustomMedia \"%s/%s\" %s %s 0 0 0 0 \"<</PageSize[%s %s]/ImagingBBox null>>setpagedevice\" \"<</PageSize[%s %s]/ImagingBBox null>>setpagedevice\"\n", \
    (is_default ? "*" : ""), name, label, w, l, w, l, w, l
}

{
  row = $1; manufacturer = $3; name = $4; width = $8 + 0
  if (width <= 0 || name == "" || (name in seen))
    next
  seen[name] = 1
  if (manufacturer == "")
    manufacturer = "Ovik"
  print "{"
  printf "  Manufacturer \"%s\"\n", manufacturer
  printf "  ModelName \"%s\"\n", name
  printf "  Attribute ShortNickName \"\" \"%s\"\n", name
  printf "  PCFileName \"%s\"\n", file_name(name)
  media(width, 100, 0)
  media(width, 150, 0)
  media(width, 210, 1)
  media(width, 297, 0)
  media(width, 1000, 0)
  media(width, 3000, 0)
  print "}"
}
