# Writes OUT, a header holding the report page's script (SCRIPT, page.js with its figures
# filled in) and style (STYLE) as C++ raw string literals, so brevo-report carries them in itself.
file(READ ${SCRIPT} script)
file(READ ${STYLE} style)
foreach(text script style)
  string(FIND "${${text}}" ")brevo_page\"" clash)
  if(NOT clash EQUAL -1)
    message(FATAL_ERROR "${text} holds the literal's closing delimiter")
  endif()
endforeach()
file(WRITE ${OUT} "// Made by tools/report/embed.cmake from page.js and page.css; not edited by hand.\n#pragma once\n"
  "inline constexpr char kPageScript[] = R\"brevo_page(${script})brevo_page\";\n"
  "inline constexpr char kPageStyle[] = R\"brevo_page(${style})brevo_page\";\n")
