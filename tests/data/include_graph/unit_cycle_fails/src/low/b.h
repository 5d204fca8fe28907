// includes nothing: the circle closes through the source of a.h
