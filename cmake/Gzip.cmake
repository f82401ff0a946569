# quillet_gzip(<name> <source> <target>): the default-built target <name>
# compresses source into target as Debian installs documentation (gzip -9n:
# no file name, no time stamp).
function(quillet_gzip Name Source Target)
  add_custom_command(
    OUTPUT ${Target}
    COMMAND gzip -9 -n -c ${Source} > ${Target}
    DEPENDS ${Source}
    COMMENT "Compressing ${Source}")
  add_custom_target(${Name} ALL DEPENDS ${Target})
endfunction()
