! defect: Touchstone 2.0 keyword lines; each after the option line counts as a record start
[Version] 2.0
# GHz S RI R 50
[Number of Ports] 2
[Two-Port Data Order] 12_21
[Number of Frequencies] 2
[Network Data]
1 111 0 112 0 121 0 122 0
2 211 0 212 0 221 0 222 0
[End]
