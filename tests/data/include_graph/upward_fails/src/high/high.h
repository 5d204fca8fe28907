// includes nothing
