! defect: Touchstone 2.0 keywords and no option line
[Version] 2.0
[Number of Ports] 1
[Network Data]
1 111 0
2 211 0
[End]
